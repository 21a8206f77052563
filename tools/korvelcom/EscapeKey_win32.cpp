// The Escape key on Windows: read from the console's input events while standard input is a
// console, so that only a key pressed in this program's window counts (the loop's own
// GetAsyncKeyState poll would see the key in any window).
#include <windows.h>

#include "EscapeKey.h"

namespace korvel::cli {

struct EscapeKey::Saved {
    HANDLE input;
};

EscapeKey::EscapeKey(HostLoop& loop) : loop_(loop) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !input || !GetConsoleMode(input, &mode)) return;
    saved_ = new Saved{input};
    active_ = true;
    loop_.setEscapeSource([this] {
        DWORD waiting = 0;
        while (GetNumberOfConsoleInputEvents(saved_->input, &waiting) && waiting > 0) {
            INPUT_RECORD records[16];
            DWORD n = 0;
            if (!ReadConsoleInputA(saved_->input, records, 16, &n)) break;
            for (DWORD i = 0; i < n; ++i)
                pressed_ = pressed_ || (records[i].EventType == KEY_EVENT &&
                                        records[i].Event.KeyEvent.bKeyDown &&
                                        records[i].Event.KeyEvent.wVirtualKeyCode == VK_ESCAPE);
        }
        return pressed_;
    });
}

EscapeKey::~EscapeKey() {
    loop_.setEscapeSource(nullptr);
    delete saved_;
}

}  // namespace korvel::cli
