// The Escape key as seen by the command line: when standard input is a terminal it is put in
// non-canonical mode without echo for the command's duration, and an Escape byte read from it
// counts as the key held down from then on.
#pragma once

#include "korvelcom/platform/HostLoop.h"

namespace korvel::cli {

class EscapeKey {
  public:
    /// Feeds `loop`'s escape source from standard input (does nothing when it is not a
    /// terminal, or when the loop watches a keyboard of its own).  Restores the terminal's mode
    /// when destroyed.
    explicit EscapeKey(HostLoop& loop);
    ~EscapeKey();
    /// Whether Escape was pressed since the command started.
    bool pressed() const { return pressed_; }
    EscapeKey(const EscapeKey&) = delete;
    EscapeKey& operator=(const EscapeKey&) = delete;

  private:
    HostLoop& loop_;
    bool active_ = false;
    bool pressed_ = false;
    struct Saved;
    Saved* saved_ = nullptr;
};

}  // namespace korvel::cli
