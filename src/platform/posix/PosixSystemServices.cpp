#include "platform/posix/PosixSystemServices.h"

#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

extern char** environ;

namespace korvel {
namespace {

std::string environmentOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// The state letter of /proc/<pid>/stat ("R", "S", "Z"...), or 0 when it cannot be read.
char procState(int32_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!in || !std::getline(in, line)) return 0;
    // The command name in parentheses may hold spaces and parentheses: the state follows the
    // last closing one.
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) return 0;
    return line[close + 2];
}

}  // namespace

std::string PosixSystemServices::windowsDirectory() {
    return environmentOr("KORVELCOM_WINDIR", "/etc");
}

std::string PosixSystemServices::systemDirectory() {
    return environmentOr("KORVELCOM_SYSDIR", "/usr/lib");
}

std::optional<int32_t> PosixSystemServices::startProcess(const std::vector<std::string>& argv) {
    reapEnded();
    if (argv.empty() || argv.front().empty()) return std::nullopt;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    // posix_spawnp reports a program that cannot be executed as its result.
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        return std::nullopt;
    children_.insert(pid);
    return static_cast<int32_t>(pid);
}

void PosixSystemServices::reapEnded() {
    for (auto it = children_.begin(); it != children_.end();) {
        int status = 0;
        // 0: still running; the child itself or -1 (already reaped elsewhere): done with it.
        if (waitpid(*it, &status, WNOHANG) == 0) {
            ++it;
        } else {
            it = children_.erase(it);
        }
    }
}

bool PosixSystemServices::processRunning(int32_t pid) {
    if (pid <= 0) return false;  // 0 and negative numbers name process groups for kill()
    if (children_.count(pid)) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == 0) return true;
        children_.erase(pid);
        if (r == pid) return false;  // it ended and is now reaped
        // Reaped by someone else (a host's own SIGCHLD handling): ask the system as for any.
    }
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    const char state = procState(pid);
    return state != 'Z' && state != 'X';
}

void PosixSystemServices::waitForProcessEnd(int32_t pid) {
    if (pid <= 0) return;
    if (children_.count(pid)) {
        int status = 0;
        while (waitpid(pid, &status, 0) == -1 && errno == EINTR) {
        }
        children_.erase(pid);
        return;
    }
    const timespec pause{0, 10'000'000};
    while (processRunning(pid))
        nanosleep(&pause, nullptr);
}

std::string PosixSystemServices::argumentsFromCmdline(const std::string& block) {
    std::string out;
    std::size_t pos = block.find('\0');
    if (pos == std::string::npos) return out;  // only the program's name, or nothing
    ++pos;
    bool first = true;
    while (pos < block.size()) {
        auto end = block.find('\0', pos);
        if (end == std::string::npos) end = block.size();
        if (!first) out += ' ';
        out.append(block, pos, end - pos);
        first = false;
        pos = end + 1;
    }
    return out;
}

std::string PosixSystemServices::commandLineArguments() {
    if (arguments_) return *arguments_;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    if (!in) return {};
    const std::string block((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return argumentsFromCmdline(block);
}

}  // namespace korvel
