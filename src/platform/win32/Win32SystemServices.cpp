#include "platform/win32/Win32SystemServices.h"

namespace korvel {

Win32SystemServices::~Win32SystemServices() {
    for (auto& [pid, handle] : children_)
        CloseHandle(handle);
}

std::string Win32SystemServices::windowsDirectory() {
    char buf[MAX_PATH + 1];
    const UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string Win32SystemServices::systemDirectory() {
    char buf[MAX_PATH + 1];
    const UINT n = GetSystemDirectoryA(buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

double Win32SystemServices::screenTwips(int axis) {
    HDC dc = GetDC(nullptr);
    if (!dc) return 0;
    const int perInch = GetDeviceCaps(dc, axis);
    ReleaseDC(nullptr, dc);
    return perInch > 0 ? 1440.0 / perInch : 0;
}

double Win32SystemServices::twipsPerPixelX() {
    return twipsX_ > 0 ? twipsX_ : screenTwips(LOGPIXELSX);
}

double Win32SystemServices::twipsPerPixelY() {
    return twipsY_ > 0 ? twipsY_ : screenTwips(LOGPIXELSY);
}

std::string Win32SystemServices::quoteCommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& arg : argv) {
        if (!line.empty()) line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += arg;
            continue;
        }
        // Inside quotes, backslashes are literal except before a quote (and before the closing
        // one): there each must be doubled, and a quote itself is escaped.
        line += '"';
        std::size_t slashes = 0;
        for (const char c : arg) {
            if (c == '\\') {
                ++slashes;
                continue;
            }
            line.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
            slashes = 0;
            line += c;
        }
        line.append(slashes * 2, '\\');
        line += '"';
    }
    return line;
}

std::optional<int32_t> Win32SystemServices::startProcess(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) return std::nullopt;
    std::string line = quoteCommandLine(argv);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return std::nullopt;
    CloseHandle(pi.hThread);
    const auto pid = static_cast<int32_t>(pi.dwProcessId);
    // An identifier is reused only once every handle to its process is closed, so a kept
    // handle makes the identifier name this process for as long as it is asked about.
    if (auto old = children_.find(pid); old != children_.end()) CloseHandle(old->second);
    children_[pid] = pi.hProcess;
    return pid;
}

HANDLE Win32SystemServices::processHandle(int32_t pid, bool& owned) {
    owned = false;
    if (pid <= 0) return nullptr;
    if (auto it = children_.find(pid); it != children_.end()) return it->second;
    owned = true;
    return OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
}

bool Win32SystemServices::processRunning(int32_t pid) {
    bool owned = false;
    HANDLE h = processHandle(pid, owned);
    if (!h) return false;
    const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    if (owned) CloseHandle(h);
    if (!running && !owned) {
        CloseHandle(h);
        children_.erase(pid);
    }
    return running;
}

void Win32SystemServices::waitForProcessEnd(int32_t pid) {
    bool owned = false;
    HANDLE h = processHandle(pid, owned);
    if (!h) return;
    (void)WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
    if (!owned) children_.erase(pid);
}

std::string Win32SystemServices::argumentsOf(const std::string& line) {
    // The program's name ends at the closing quote when it starts with one (a quoted name
    // holds no quotes), else at the first blank.
    std::size_t i = 0;
    if (!line.empty() && line[0] == '"') {
        const auto close = line.find('"', 1);
        i = close == std::string::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    return line.substr(i);
}

std::string Win32SystemServices::commandLineArguments() {
    if (arguments_) return *arguments_;
    const char* line = GetCommandLineA();
    return line ? argumentsOf(line) : std::string();
}

}  // namespace korvel
