// System helpers: command-line splitting, twips and pixels, directory answers, and processes,
// both simulated (yields, Escape) and real children of this test (IsActive, no shell, waits).
#include "util/SystemHelpers.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/posix/PosixSystemServices.h"
#include "platform/sim/SimPlatform.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

fs::path freshDir(const std::string& name) {
    const fs::path dir = fs::path(KORVEL_TEST_TMPDIR) / "system" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Polls `done` every millisecond, at most `limit` times (a liveness bound, not a timing claim).
template <class F>
bool eventually(F done, int limit = 10000) {
    for (int i = 0; i < limit; ++i) {
        if (done()) return true;
        usleep(1000);
    }
    return done();
}

TEST(CommandLine, ArgumentsAreSplitAtBlanksOnly) {
    EXPECT_EQ(util::splitArguments("-a  b\tc"), (Args{"", "-a", "b", "c"}));
    EXPECT_EQ(util::splitArguments(""), (Args{""}));
    EXPECT_EQ(util::splitArguments(" \t "), (Args{""}));
    EXPECT_EQ(util::splitArguments("\"two words\""), (Args{"", "\"two", "words\""}));
    EXPECT_EQ(util::splitArguments("1 2 3 4 5 6 7 8 9 10 11 12"),
              (Args{"", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    EXPECT_EQ(util::splitArguments("1 2 3 4 5 6 7 8 9 10  "),
              util::splitArguments("1 2 3 4 5 6 7 8 9 10"));
}

TEST(CommandLine, ProgramLineKeepsQuotedBlanks) {
    EXPECT_EQ(util::splitProgramCommandLine("  \"/opt/my tools/run\" -x\t'y z'"),
              (Args{"/opt/my tools/run", "-x", "'y", "z'"}));
    EXPECT_EQ(util::splitProgramCommandLine("a\"b c\"d \"\" e"), (Args{"ab cd", "", "e"}));
    EXPECT_EQ(util::splitProgramCommandLine("run \"unclosed x"), (Args{"run", "unclosed x"}));
    EXPECT_TRUE(util::splitProgramCommandLine(" \t").empty());
}

TEST(Twips, FactorsAndRounding) {
    EXPECT_EQ(util::twipsFactor(0), 15);
    EXPECT_EQ(util::twipsFactor(-3), 15);
    EXPECT_EQ(util::twipsFactor(14.5), 14);  // ties to even
    EXPECT_EQ(util::twipsFactor(15.5), 16);
    EXPECT_EQ(util::twipsFactor(0.4), 0);

    auto toPixels = [](int16_t v, int f) { return util::twipsToPixels(v, f), v; };
    auto toTwips = [](int16_t v, int f) { return util::pixelsToTwips(v, f), v; };
    EXPECT_EQ(toPixels(1000, 15), 67);
    EXPECT_EQ(toPixels(22, 15), 1);
    EXPECT_EQ(toPixels(-1000, 15), -67);
    EXPECT_EQ(toPixels(3, 2), 2);  // 1.5
    EXPECT_EQ(toPixels(5, 2), 2);  // 2.5
    EXPECT_EQ(toPixels(1000, 0), 1000);
    EXPECT_EQ(toTwips(100, 15), 1500);
    EXPECT_EQ(toTwips(3000, 15), 3000);
    EXPECT_EQ(toTwips(-2184, 15), -32760);
    EXPECT_EQ(toTwips(-2185, 15), -2185);
}

class SimSystem : public ::testing::Test {
  protected:
    SimPlatform sim;
    KorvelComTools control{sim};
    SimSystemServices& sys = static_cast<SimSystemServices&>(sim.system());
};

TEST_F(SimSystem, TwipsAndDirectoriesFromTheServices) {
    sys.twipsX = 12.4;  // 12 horizontally; no vertical factor known: 15
    int16_t x = 1200, y = 1500;
    control.TwipsToPixel(x, y);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 100);
    std::vector<Value> args{int16_t{100}, int16_t{3000}};
    invoke(control, "PixelToTwips", MemberKind::Method, args);
    EXPECT_EQ(args[0], Value(int16_t{1200}));
    EXPECT_EQ(args[1], Value(int16_t{3000}));

    sys.windowsDir = "/opt/win/";
    sys.systemDir = "/";
    EXPECT_EQ(control.WinDir(), "/opt/win");
    EXPECT_EQ(control.WinSysDir(), "/");
    sys.windowsDir = "/" + std::string(254, 'd');  // does not fit the 255-character buffer
    EXPECT_EQ(control.WinDir(), "");

    PosixSystemServices posix;
    unsetenv("KORVELCOM_WINDIR");
    unsetenv("KORVELCOM_SYSDIR");
    EXPECT_EQ(posix.windowsDirectory(), "/etc");
    EXPECT_EQ(posix.systemDirectory(), "/usr/lib");
    setenv("KORVELCOM_SYSDIR", "/opt/korvel/lib", 1);
    EXPECT_EQ(posix.systemDirectory(), "/opt/korvel/lib");
    unsetenv("KORVELCOM_SYSDIR");
}

TEST_F(SimSystem, CommandLineFromTheHostOrTheProcess) {
    sys.processArguments = "-a  b\tc";
    Args array{"old"};
    EXPECT_EQ(control.GetCommandLine(array), (Args{"", "-a", "b", "c"}));
    EXPECT_EQ(array, (Args{"", "-a", "b", "c"}));
    sys.setCommandLineArguments("x");
    std::vector<Value> args{std::string("ignored")};
    EXPECT_EQ(invoke(control, "GetCommandLine", MemberKind::Method, args),
              Value(std::string("\nx")));
    EXPECT_EQ(args[0], Value(std::string("\nx")));

    EXPECT_EQ(PosixSystemServices::argumentsFromCmdline(std::string("prog\0-a\0b c\0", 12)),
              "-a b c");
    EXPECT_EQ(PosixSystemServices::argumentsFromCmdline(std::string("prog\0", 5)), "");
    PosixSystemServices posix;
    std::string own;
    const auto argv = ::testing::internal::GetArgvs();
    for (std::size_t i = 1; i < argv.size(); ++i)
        own += (i > 1 ? " " : "") + argv[i];
    EXPECT_EQ(posix.commandLineArguments(), own);
    posix.setCommandLineArguments("set by host");
    EXPECT_EQ(posix.commandLineArguments(), "set by host");
}

TEST_F(SimSystem, PollingYieldsUntilTheProgramEndsOrEscape) {
    bool hostWorkRan = false;
    sim.loop().post([&] { hostWorkRan = true; });
    int yields = 0;
    sim.simLoop().setYieldHook([&] {
        if (++yields == 5) sys.running.erase(4000);
    });
    control.SuspendActivateExe("\"C:\\Program Files\\pos.exe\" /x");
    ASSERT_EQ(sys.started.size(), 1u);
    EXPECT_EQ(sys.started[0], (Args{"C:\\Program Files\\pos.exe", "/x"}));
    EXPECT_EQ(yields, 5);
    EXPECT_TRUE(hostWorkRan);
    EXPECT_EQ(sys.waited, std::vector<int32_t>{4000});

    // Escape returns at once, skips the final wait and leaves the program running.
    sim.simLoop().setYieldHook([&] {
        if (++yields == 8) sim.simLoop().setEscape(true);
    });
    control.SuspendActivateExe("pos.exe");
    EXPECT_EQ(yields, 8);
    EXPECT_EQ(sys.waited.size(), 1u);
    EXPECT_EQ(control.IsActive(4001), -1);

    // With Escape disabled the key is ignored: the loop runs until the program ends.
    control.setEscapeKeyEnabled(false);
    sim.simLoop().setYieldHook([&] {
        if (++yields == 10) sys.running.erase(4002);
    });
    control.SuspendActivateExe("pos.exe");
    EXPECT_EQ(yields, 10);
    EXPECT_EQ(sys.waited, (std::vector<int32_t>{4000, 4002}));
}

TEST_F(SimSystem, AProgramThatCannotStartReturnsAtOnce) {
    sys.failStarts = true;
    control.SuspendActivateExe("missing.exe");
    control.SuspendActivateExe("   ");
    EXPECT_EQ(sim.simLoop().yields(), 0);
    EXPECT_EQ(sys.runningQueries, 0);
    EXPECT_TRUE(sys.waited.empty());
}

// Real processes, with the simulated loop (for Escape) and the POSIX services.
class RecordingServices : public PosixSystemServices {
  public:
    std::optional<int32_t> startProcess(const std::vector<std::string>& argv) override {
        const auto pid = PosixSystemServices::startProcess(argv);
        started.push_back(pid);
        return pid;
    }
    void waitForProcessEnd(int32_t pid) override {
        waited.push_back(pid);
        PosixSystemServices::waitForProcessEnd(pid);
    }
    std::vector<std::optional<int32_t>> started;
    std::vector<int32_t> waited;
};

class RealProcesses : public SimPlatform {
  public:
    SystemServices& system() override { return services; }
    RecordingServices services;
};

class RealProcess : public ::testing::Test {
  protected:
    RealProcesses platform;
    KorvelComTools control{platform};
    RecordingServices& sys = platform.services;
    fs::path dir = freshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(RealProcess, IsActiveFollowsAChildAndReapsIt) {
    const auto pid = sys.startProcess({"/bin/true"});
    ASSERT_TRUE(pid);
    EXPECT_TRUE(eventually([&] { return control.IsActive(*pid) == 0; }));
    errno = 0;
    EXPECT_EQ(waitpid(*pid, nullptr, WNOHANG), -1);  // already reaped
    EXPECT_EQ(errno, ECHILD);

    const auto sleeper = sys.startProcess({"sleep", "30"});  // found on PATH
    ASSERT_TRUE(sleeper);
    EXPECT_EQ(control.IsActive(*sleeper), -1);
    kill(*sleeper, SIGKILL);
    sys.waitForProcessEnd(*sleeper);
    EXPECT_EQ(control.IsActive(*sleeper), 0);
}

TEST_F(RealProcess, IsActiveOfOtherProcesses) {
    EXPECT_EQ(control.IsActive(static_cast<int32_t>(getpid())), -1);
    EXPECT_EQ(control.IsActive(0), 0);
    EXPECT_EQ(control.IsActive(-1), 0);
    int32_t pidMax = 4194304;
    std::ifstream("/proc/sys/kernel/pid_max") >> pidMax;
    EXPECT_EQ(control.IsActive(pidMax), 0);  // identifiers stay below pid_max

    // A zombie that is not our child: the shell's background child, never waited for by the
    // program the shell becomes.
    const fs::path pidFile = dir / "pid";
    const auto parent = sys.startProcess(
        {"/bin/sh", "-c", "sleep 0 & echo $! > " + pidFile.string() + "; exec sleep 30"});
    ASSERT_TRUE(parent);
    int32_t zombie = 0;
    ASSERT_TRUE(eventually([&] {
        std::ifstream in(pidFile);
        return static_cast<bool>(in >> zombie);
    }));
    EXPECT_TRUE(eventually([&] { return control.IsActive(zombie) == 0; }));
    EXPECT_EQ(kill(zombie, 0), 0);  // it still exists, as a zombie
    EXPECT_EQ(control.IsActive(*parent), -1);
    kill(*parent, SIGKILL);
    sys.waitForProcessEnd(*parent);

    std::vector<Value> args{std::string("not a number")};
    EXPECT_EQ(invoke(control, "IsActive", MemberKind::Method, args), Value(int32_t{0}));
}

TEST_F(RealProcess, SuspendActivateExeWaitsAndNothingIsInterpretedByAShell) {
    const std::string d = dir.string();
    control.SuspendActivateExe("/bin/sh -c \"sleep 0.2; touch '" + d + "/done'\"");
    EXPECT_TRUE(fs::exists(dir / "done"));
    ASSERT_EQ(sys.started.size(), 1u);
    ASSERT_TRUE(sys.started[0]);
    EXPECT_EQ(sys.waited, std::vector<int32_t>{*sys.started[0]});
    EXPECT_GT(platform.simLoop().yields(), 0);

    control.SuspendActivateExe("touch " + d + "/a;b " + d + "/$HOME " + d + "/>c");
    for (const char* name : {"a;b", "$HOME", ">c"})
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);

    control.SuspendActivateExe(d + "/no-such-program --flag");
    ASSERT_EQ(sys.started.size(), 3u);
    EXPECT_FALSE(sys.started[2]);
    EXPECT_EQ(sys.waited.size(), 2u);
}

TEST_F(RealProcess, EscapeLeavesTheProgramRunning) {
    platform.simLoop().setEscape(true);
    control.SuspendActivateExe("/bin/sleep 30");
    ASSERT_EQ(sys.started.size(), 1u);
    ASSERT_TRUE(sys.started[0]);
    const int32_t pid = *sys.started[0];
    EXPECT_EQ(control.IsActive(pid), -1);
    EXPECT_TRUE(sys.waited.empty());
    kill(pid, SIGKILL);
    sys.waitForProcessEnd(pid);

    control.setEscapeKeyEnabled(false);
    control.SuspendActivateExe("/bin/sleep 0.1");
    ASSERT_EQ(sys.started.size(), 2u);
    EXPECT_EQ(control.IsActive(*sys.started[1]), 0);
    EXPECT_EQ(sys.waited.back(), *sys.started[1]);
}

TEST(UtilityRegistration, EveryMemberIsReachableByName) {
    const auto& table = AutomationTable::instance();
    for (const char* name :
         {"ConvertStrhToDec", "ConvertStrdToDec", "cStr1DtoDec", "cStr2DtoDec", "cStr3DtoDec",
          "cStr1HtoDec", "cStr2HtoDec", "c2DecToAsc", "c3DecToAsc", "c2HexToAsc", "EncryptFile",
          "DecryptFile", "WinDir", "WinSysDir", "TwipsToPixel", "PixelToTwips", "IsActive",
          "SuspendActivateExe", "GetCommandLine"})
        EXPECT_NE(table.find(name, MemberKind::Method), nullptr) << name;
}

}  // namespace
}  // namespace korvel
