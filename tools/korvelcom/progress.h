// Progress of a long wait on the command line.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "korvelcom/platform/HostLoop.h"

namespace korvel::cli {

// Shows the elapsed time of a running exchange on standard error until stopped: rewritten in
// place on a terminal, one line a second otherwise.
/// While it exists, shows the elapsed time (and the time-out when `timeoutMs` > 0) on standard
/// error from the loop's posted work.
class Progress {
  public:
    Progress(HostLoop& loop, int32_t timeoutMs)
        : loop_(loop), timeoutMs_(timeoutMs), start_(loop.tick()), tty_(isatty(STDERR_FILENO)) {
        schedule();
    }
    ~Progress() {
        *alive_ = false;
        if (tty_ && shown_) std::cerr << "\r\033[K" << std::flush;
    }

  private:
    void schedule() {
        auto alive = alive_;
        loop_.post(
            [this, alive] {
                if (!*alive) return;
                show();
                schedule();
            },
            tty_ ? 100 : 1000);
    }
    void show() {
        char line[128];
        const double elapsed = (loop_.tick() - start_) / 1000.0;
        if (timeoutMs_ > 0) {
            std::snprintf(line, sizeof line,
                          "waiting for the terminal: %.1f s of %.1f s (Esc aborts)", elapsed,
                          timeoutMs_ / 1000.0);
        } else {
            std::snprintf(line, sizeof line, "waiting for the terminal: %.1f s (Esc aborts)",
                          elapsed);
        }
        std::cerr << (tty_ ? "\r" : "") << line << (tty_ ? "" : "\n") << std::flush;
        shown_ = true;
    }

    HostLoop& loop_;
    int32_t timeoutMs_;
    int32_t start_;
    bool tty_;
    bool shown_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace korvel::cli
