#include "EscapeKey.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace korvel::cli {

struct EscapeKey::Saved {
    termios mode;
};

EscapeKey::EscapeKey(HostLoop& loop) : loop_(loop) {
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

}  // namespace korvel::cli
