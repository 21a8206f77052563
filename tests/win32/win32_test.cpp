// The Win32 platform layer under Wine (or Windows): the COM port against the Linux simulator on
// a pseudo-terminal mapped to a COM port, the message loop's tick and waits, the registry
// settings store and processes.  scripts/windows.sh sets the ports up: KORVEL_TEST_COM names
// the port with the payment simulator behind it.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "korvelcom/KorvelComTools.h"
#include "platform/BufferedSerialComm.h"
#include "platform/win32/RegistrySettingsStore.h"
#include "platform/win32/Win32ComTransport.h"
#include "platform/win32/Win32HostLoop.h"
#include "platform/win32/Win32SystemServices.h"

namespace korvel {
namespace {

using S = std::string;

/// The COM port number in environment variable `name` (set by the script); 0 when unset.
int16_t portFrom(const char* name) {
    const char* v = std::getenv(name);
    return static_cast<int16_t>(v ? std::atoi(v) : 0);
}
S openFailure(const Endpoint& where) {
    Win32ComTransport t;
    try {
        t.open(where, *LineSettings::parse("9600,n,8,1"));
    } catch (const SerialError& e) {
        return e.what();
    }
    return "opened";
}

TEST(Win32Port, OpensExclusivelyAppliesSettingsAndNamesMissingAndBusyPorts) {
    // Ports from COM10 on are reachable only through the device namespace.
    for (const auto& [name, path] : {std::pair<S, S>{"com12", "\\\\.\\com12"},
                                     {"COM7", "\\\\.\\COM7"},
                                     {"\\\\.\\COM3", "\\\\.\\COM3"},
                                     {"COMX", "COMX"},
                                     {"LPT1", "LPT1"}})
        EXPECT_EQ(Win32ComTransport::devicePath(name), path);
    const S text = win32ErrorText(ERROR_ACCESS_DENIED);  // the system's own words, on one line
    EXPECT_TRUE(text.find_first_of("\r\n") == S::npos && text.back() != ' ') << text;
    const int16_t sim = portFrom("KORVEL_TEST_COM");  // the payment simulator's
    if (sim == 0) GTEST_SKIP() << "KORVEL_TEST_COM is not set (scripts/windows.sh test sets it)";
    const Endpoint where = resolveWin32Port(sim);
    EXPECT_EQ(where.path, "\\\\.\\COM" + std::to_string(sim));
    Win32ComTransport port;
    port.open(where, *LineSettings::parse("9600,n,8,1"));
    EXPECT_NE(port.readyHandle(), kNoReadyHandle);
    EXPECT_EQ(openFailure(where), where.label() + ": the device is busy");
    EXPECT_EQ(openFailure(Endpoint::parse("COM231", 231)),
              "COM231 (COM231): the device does not exist");

    // What a pseudo-terminal cannot frame (7 data bits, parity) runs as 8N, as on POSIX.
    for (const char* text : {"19200,n,8,2", "2400,o,8,1", "9600,e,7,1", "4800,m,7,2"}) {
        const LineSettings want = *LineSettings::parse(text);
        port.applySettings(want);
        const LineSettings got = port.appliedSettings();
        EXPECT_EQ(got.baud, want.baud) << text;
        EXPECT_EQ(got.stopHalfBits, want.stopHalfBits) << text;
        const bool asAsked = got.parity == want.parity && got.dataBits == want.dataBits;
        EXPECT_TRUE(asAsked || (got.parity == 'n' && got.dataBits == 8)) << text;
    }
    port.close();
    EXPECT_EQ(port.readyHandle(), kNoReadyHandle);
    EXPECT_EQ(openFailure(where), "opened");  // released by the close
}

// The script starts a simulator that closes its pseudo-terminal a few seconds later.
TEST(Win32Port, ATerminalThatVanishesIsSeenGoneWithoutSpinningAndTheNextUseFails) {
    const int16_t port = portFrom("KORVEL_TEST_VANISHING_COM");
    if (port == 0) GTEST_SKIP() << "KORVEL_TEST_VANISHING_COM is not set";
    Platform& platform = defaultPlatform();
    auto& loop = dynamic_cast<Win32HostLoop&>(platform.loop());
    const auto serial = platform.createSerial();
    auto& comm = dynamic_cast<BufferedSerialComm&>(*serial);
    comm.setCommPort(port);
    comm.setSettings("9600,n,8,1");
    comm.setPortOpen(true);
    comm.output("\x05");
    const auto waitFor = [&](int32_t ms, const std::function<bool()>& done) {
        const int32_t deadline = tickAdd(loop.tick(), ms);
        while (!done() && !tickPassed(loop.tick(), deadline))
            loop.yieldUntil(deadline);
    };
    waitFor(3000, [&] { return comm.inBufferCount() > 0; });
    EXPECT_EQ(comm.input(), "\x06");  // the terminal is there
    waitFor(30000, [&] { return comm.gone(); });
    ASSERT_TRUE(comm.gone());
    EXPECT_TRUE(comm.portOpen());
    // Gone: nothing to wait on, so a 300 ms wait sleeps in 50 ms steps instead of spinning.
    const uint64_t before = loop.yieldCount();
    waitFor(300, [] { return false; });
    EXPECT_LE(loop.yieldCount() - before, 12u);
    // The next member that uses the port tries to open it again; the terminal is still gone.
    EXPECT_THROW(comm.inBufferCount(), SerialError);
}

TEST(Win32Loop, TickWrapsSignedAndWaitsEndJustPastTheirDeadlineWithoutSpinning) {
    // The tick 30 ms before it wraps from INT32_MAX to INT32_MIN.
    const auto offset = static_cast<int32_t>(INT32_MAX - 30 - static_cast<int32_t>(GetTickCount()));
    Win32HostLoop loop(offset);
    int now = 0;
    loop.post([&] { ++now; });  // no delay: runs at the next yield
    loop.yield();
    EXPECT_EQ(now, 1);
    const int32_t deadline = tickAdd(loop.tick(), 100);
    EXPECT_LT(deadline, 0);
    int posted = 0;
    loop.post([&] { ++posted; }, 40);
    while (!tickPassed(loop.tick(), deadline))
        loop.yieldUntil(deadline);
    EXPECT_LT(loop.tick(), 0);
    EXPECT_EQ(posted, 1);
    // 100 ms in sleeps of at most 50 ms, the posted work's wake-up and, under Wine, the last
    // millisecond slept in the thread: no busy loop.
    EXPECT_LE(loop.yieldCount(), 10u);
}

TEST(Win32Loop, UnderWineTheLastMillisecondEndsOnThePerformanceCountersBoundary) {
    // Performance counts at 10 MHz: 10,000 per tick.  The offset moves the tick near its wrap.
    struct Row {
        int64_t count;
        int32_t deadline, offset;
        int64_t us;
    } rows[] = {
        {1'234'567'890, 123'456, 0, 211},   // 0.211 ms left in tick 123,456
        {1'234'560'000, 123'456, 0, 1000},  // at the tick's first count: the whole millisecond
        {1'234'569'999, 123'456, 0, 1},     // rounded up: never wakes before the boundary
        {1'234'570'000, 123'456, 0, 0},     // the tick has passed the deadline
        {1'234'560'000, 123'455, 0, 0},     // long past
        {1'234'567'890, 123'457, 0, -1},    // more than a millisecond away
        {1'234'567'890, INT32_MAX, INT32_MAX - 123'456, 211},  // the deadline just before the wrap
        {1'234'570'000, INT32_MAX, INT32_MAX - 123'456, 0},    // ... passed by INT32_MIN
        {(int64_t{1} << 32) * 10'000 - 5'000, -1, 0, 500},     // GetTickCount's own wrap
        {(int64_t{1} << 32) * 10'000 - 5'000, 0, 0, -1},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Win32HostLoop::usToTickBoundary(r.count, r.deadline, r.offset), r.us)
            << r.count << " " << r.deadline << " " << r.offset;
    // This Wine runs the tick on that counter, and the loop knows it is under Wine.
    Win32HostLoop loop;
    if (!loop.sleepsToTheTick()) GTEST_SKIP() << "not under Wine";
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    const auto clockMs = static_cast<uint32_t>(count.QuadPart / 10'000);
    EXPECT_LE(clockMs - GetTickCount(), 32u);  // the tick is at most a server wake behind
}

int seenAppMessages = 0;
// A window procedure has the system's calling convention, which a lambda lacks on 32-bit x86.
LRESULT CALLBACK countAppMessages(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_APP) ++seenAppMessages;
    return DefWindowProcA(h, m, w, l);
}

TEST(Win32Loop, AWaitDispatchesTheThreadsWindowMessages) {
    int& seen = seenAppMessages;
    WNDCLASSA wc{};
    wc.lpfnWndProc = countAppMessages;
    wc.lpszClassName = "KorvelLoopTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    Win32HostLoop loop;
    PostMessageA(window, WM_APP, 0, 0);
    loop.yieldUntil(tickAdd(loop.tick(), 50));
    EXPECT_EQ(seen, 1);
    DestroyWindow(window);
}

TEST(Win32Settings, ReadsTheKeysVbStyleHostsSaved) {
    const S path = RegistrySettingsStore::keyPath("KorvelTest", "Keys");
    EXPECT_EQ(path, "Software\\VB and VBA Program Settings\\KorvelTest\\Keys");
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), "DataCode", REG_SZ, "4711", 5), 0);
    const DWORD number = 7;
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), "Number", REG_DWORD, &number, 4), 0);
    RegistrySettingsStore store;
    EXPECT_EQ(store.get("KorvelTest", "Keys", "datacode", "-"), "4711");
    EXPECT_EQ(store.get("KorvelTest", "Keys", "Number", "-"), "-");  // not a string
    EXPECT_EQ(store.get("KorvelTest", "Keys", "Missing", "-"), "-");
    EXPECT_EQ(store.get("KorvelTest", "Other", "DataCode", "-"), "-");
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\VB and VBA Program Settings\\KorvelTest");
}

TEST(Win32System, CommandLinesRoundTripAndProcessesAreStartedAndAwaited) {
    const std::vector<std::vector<S>> lines = {
        {"prog", "a b", "x\"y", "tr\\", "", "c:\\dir\\", "back\\\\\"q"}, {"C:\\P F\\p.exe"}};
    for (const auto& argv : lines) {
        const S line = Win32SystemServices::quoteCommandLine(argv);
        const std::wstring wide(line.begin(), line.end());
        int n = 0;
        LPWSTR* back = CommandLineToArgvW(wide.c_str(), &n);
        std::vector<S> got;
        for (int i = 0; i < n; ++i)
            got.emplace_back(back[i], back[i] + wcslen(back[i]));
        LocalFree(back);
        EXPECT_EQ(got, argv) << line;
    }
    EXPECT_EQ(Win32SystemServices::argumentsOf("\"C:\\P F\\p.exe\"  -x \"y z\""), "-x \"y z\"");
    EXPECT_EQ(Win32SystemServices::argumentsOf("p.exe"), "");

    Win32SystemServices sys;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const auto pid = sys.startProcess({self, "--gtest_filter=None.None"});
    ASSERT_TRUE(pid);
    sys.waitForProcessEnd(*pid);
    EXPECT_FALSE(sys.processRunning(*pid));
    EXPECT_FALSE(sys.startProcess({"no-such-program-here.exe"}));
    EXPECT_TRUE(sys.processRunning(static_cast<int32_t>(GetCurrentProcessId())));
    EXPECT_NE(sys.systemDirectory().find('\\'), S::npos);
    EXPECT_NE(sys.windowsDirectory(), "");
    // The screen's factor, until the host sets one (0: the screen's again).
    HDC dc = GetDC(nullptr);
    const double x = 1440.0 / GetDeviceCaps(dc, LOGPIXELSX),
                 y = 1440.0 / GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(sys.twipsPerPixelX(), x);
    sys.setScreenTwipsPerPixel(0.5, 0);
    EXPECT_EQ(std::pair(sys.twipsPerPixelX(), sys.twipsPerPixelY()), std::pair(0.5, y));
}

}  // namespace
}  // namespace korvel
