#include "keys.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "korvelcom/CardData.h"
#include "platform/posix/PosixHostLoop.h"

namespace korvel::cli {

struct EscapeKey::Saved {
    termios mode;
};

EscapeKey::EscapeKey(PosixHostLoop& loop) : loop_(loop) {
    if (!isatty(STDIN_FILENO)) return;
    termios mode{};
    if (tcgetattr(STDIN_FILENO, &mode) != 0) return;
    saved_ = new Saved{mode};
    mode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0) return;
    active_ = true;
    loop_.setEscapeSource([this] {
        char buf[32];
        ssize_t n;
        while ((n = read(STDIN_FILENO, buf, sizeof buf)) > 0)
            for (ssize_t i = 0; i < n; ++i)
                pressed_ = pressed_ || buf[i] == 0x1B;
        return pressed_;
    });
}

EscapeKey::~EscapeKey() {
    loop_.setEscapeSource(nullptr);
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_->mode);
    delete saved_;
}

std::string jsonString(const std::string& raw) {
    if (!raw.empty() && raw.find_first_not_of('\0') == std::string::npos) return "null";
    const std::string bytes = cardDataForDisplay(raw);
    std::string out = "\"";
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += ch;
        } else if (b < 0x20 || b >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", b);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

}  // namespace korvel::cli
