// The POSIX system services: directories standing in for the Windows ones, processes started
// with posix_spawn, the screen factor the host sets, and the process's own arguments.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "korvelcom/platform/SystemServices.h"

namespace korvel {

/// See `SystemServices` for what each member answers on POSIX.
class PosixSystemServices : public SystemServices {
  public:
    std::string windowsDirectory() override;
    std::string systemDirectory() override;
    double twipsPerPixelX() override { return twipsX_; }
    double twipsPerPixelY() override { return twipsY_; }
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

    /// The arguments text of a NUL-separated argument block as /proc/<pid>/cmdline holds it:
    /// every argument after the first, joined by single spaces.
    static std::string argumentsFromCmdline(const std::string& block);

  private:
    /// Reaps the children started here that have ended, without blocking.
    void reapEnded();

    double twipsX_ = 0;
    double twipsY_ = 0;
    std::optional<std::string> arguments_;
    /// Children started by `startProcess` and not reaped yet.
    std::set<int32_t> children_;
};

}  // namespace korvel
