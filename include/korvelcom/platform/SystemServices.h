// Directories, processes and screen metrics, as the system helpers need them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "korvelcom/Export.h"

namespace korvel {

/// The platform services behind the control's system helpers.  The POSIX answers are
/// documented with each member here and in the README.  Members never throw.
class KORVELCOM_API SystemServices {
  public:
    virtual ~SystemServices() = default;

    /// The directory that plays the role of the Windows directory (the system's own
    /// configuration and installation root).  Empty when unknown.
    ///  POSIX: `$KORVELCOM_WINDIR` when set and not empty, else "/etc".
    virtual std::string windowsDirectory() = 0;

    /// The directory that plays the role of the Windows system directory (shared system
    /// components and libraries, where the control's help file is looked for).  Empty when
    /// unknown.
    ///  POSIX: `$KORVELCOM_SYSDIR` when set and not empty, else "/usr/lib".
    virtual std::string systemDirectory() = 0;

    /// Twips (1/1440 inch) per screen pixel, horizontally and vertically, as fractional
    /// factors; 0 when no screen is known (the helpers then use 15, i.e. 96 pixels per inch).
    ///  POSIX: 0 unless the host told the platform its screen's factors.
    virtual double twipsPerPixelX() = 0;
    virtual double twipsPerPixelY() = 0;
    /// Tells the platform the screen's factors (a host that shows windows knows them: 1440
    /// divided by its pixels per inch); 0 returns to "no screen known".
    virtual void setScreenTwipsPerPixel(double x, double y) = 0;

    /// Starts `argv[0]` with the arguments `argv[1...]`, without a shell (nothing in them is
    /// interpreted), and returns its process identifier at once.  No value when the program
    /// cannot be started (`argv` empty, program not found or not executable).
    ///  POSIX: a program name without "/" is looked for on `PATH`; the child inherits the
    ///  environment, working directory and standard streams.
    virtual std::optional<int32_t> startProcess(const std::vector<std::string>& argv) = 0;

    /// Whether the process `pid` is still running: false once it has ended, and for an
    /// identifier that belongs to no process (0 and negative ones included).
    ///  POSIX: a process that exists and is not a zombie counts as running, whoever owns it;
    ///  children started by `startProcess` are reaped as soon as they are seen to have ended.
    virtual bool processRunning(int32_t pid) = 0;

    /// Waits without time limit until the process `pid` has ended; returns at once when it
    /// is not running.  Does not yield to the host loop.
    ///  POSIX: waits for (and reaps) a child started by `startProcess`; for any other process
    ///  it checks `processRunning` every 10 ms.
    virtual void waitForProcessEnd(int32_t pid) = 0;

    /// The arguments text of this process's command line: what follows the program's name.
    ///  POSIX: the text set with `setCommandLineArguments` when there is one; otherwise the
    ///  process's own arguments from /proc/self/cmdline joined by single spaces (empty where
    ///  /proc is not available).
    virtual std::string commandLineArguments() = 0;

    /// Sets the text `commandLineArguments` answers (hosts whose own arguments are not the
    /// ones meant for the control); no value returns to the process's own arguments.
    virtual void setCommandLineArguments(std::optional<std::string> arguments) = 0;
};

}  // namespace korvel
