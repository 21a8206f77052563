// Directories, processes and screen metrics, as the system helpers need them.
#pragma once

namespace korvel {

/// The platform services behind the control's system helpers.  The POSIX answers are
/// documented with each member and in the README.
class SystemServices {
  public:
    virtual ~SystemServices() = default;
};

}  // namespace korvel
