// The Windows system services: the system's own directories, the screen's DPI, processes
// started without a shell, and the process's own command line.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "korvelcom/platform/SystemServices.h"

namespace korvel {

/// `SystemServices` on Windows:
/// - `windowsDirectory()`: `GetWindowsDirectoryA` ("C:\Windows"); `systemDirectory()`:
///   `GetSystemDirectoryA` ("C:\Windows\system32"); empty when the call fails;
/// - twips per pixel: the factors the host set, else 1440 divided by the screen's logical
///   pixels per inch (`GetDeviceCaps(LOGPIXELSX/Y)`; 15 at 96 DPI), 0 when no screen answers;
/// - `startProcess`: `CreateProcessA` without a shell on a command line quoted so that the
///   program's C runtime splits it back into exactly `argv`; a name without a path is looked
///   for as Windows does (the program's directory, the current one, the system directories,
///   `PATH`; ".exe" is added when the name has no extension);
/// - `processRunning` / `waitForProcessEnd`: the handle kept from `startProcess`, else
///   `OpenProcess(SYNCHRONIZE)`; `WaitForSingleObject` tells whether it ended;
/// - `commandLineArguments`: `GetCommandLineA()` without the program's name.
class Win32SystemServices : public SystemServices {
  public:
    Win32SystemServices() = default;
    /// Closes the handles of the processes it started (they keep running).
    ~Win32SystemServices() override;
    Win32SystemServices(const Win32SystemServices&) = delete;
    Win32SystemServices& operator=(const Win32SystemServices&) = delete;

    std::string windowsDirectory() override;
    std::string systemDirectory() override;
    double twipsPerPixelX() override;
    double twipsPerPixelY() override;
    void setScreenTwipsPerPixel(double x, double y) override {
        twipsX_ = x;
        twipsY_ = y;
    }
    std::optional<int32_t> startProcess(const std::vector<std::string>& argv) override;
    bool processRunning(int32_t pid) override;
    void waitForProcessEnd(int32_t pid) override;
    std::string commandLineArguments() override;
    void setCommandLineArguments(std::optional<std::string> arguments) override {
        arguments_ = std::move(arguments);
    }

    /// One command line from `argv`, each argument quoted where the C runtime needs it.
    static std::string quoteCommandLine(const std::vector<std::string>& argv);
    /// What follows the program's name (quoted or not) and the blanks after it in `line`.
    static std::string argumentsOf(const std::string& line);

  private:
    /// 1440 / the screen's logical pixels per inch along `axis`; 0 when unknown.
    static double screenTwips(int axis);
    /// A handle that can wait for `pid`, owned by `children_` or by the caller (`owned`).
    HANDLE processHandle(int32_t pid, bool& owned);

    double twipsX_ = 0;
    double twipsY_ = 0;
    std::optional<std::string> arguments_;
    std::map<int32_t, HANDLE> children_;  ///< processes started here, by identifier
};

}  // namespace korvel
