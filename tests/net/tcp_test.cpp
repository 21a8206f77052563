// The control and the simulator over loopback TCP: an extended operation and the causes of a
// failed connect through the command line, and a terminal that comes back after a restart.
#include <gtest/gtest.h>

#include "korvelcom/KorvelComTools.h"
#include "sim/TcpServer.h"
#include "support/Process.h"
#include "support/Pty.h"

namespace korvel {
namespace {

using S = std::string;

TEST(Tcp, TheCommandLineRunsAnOperationOverTcpAndSaysWhyAConnectFailed) {
    test::Background sim(
        {KORVEL_CLI_PATH, "sim", "--tcp", "127.0.0.1:0", "--quiet", "--responder", "extended"});
    const S at = sim.firstLine(5000);
    const struct {
        S device, args;
        int status;
        const char* want;  // in standard output or error
    } rows[] = {
        {at, "auto ReadingCard --set POSAutoCardReader=1", 0, "POSAutoStatus         '00'"},
        {"tcp://127.0.0.1:1", "pay", 3,
         "errorHandlerOpenSession: cannot open COM1 (tcp://127.0.0.1:1): connection refused\n"},
        {"rfc2217://[::1]:1", "pay", 3, "COM1 (rfc2217://[::1]:1): connection refused\n"},
        {"rfc2217" + at.substr(3), "pay", 3, "): the server did not answer the COM port option"},
        {"tcp://no-such-host.invalid:4000", "pay", 3, "4000): host not found: no-such-host"},
    };
    for (const auto& r : rows) {
        std::vector<S> args{KORVEL_CLI_PATH, "--device", r.device};
        std::istringstream words(r.args);
        for (S w; words >> w;)
            args.insert(args.end() - 2, w);
        const auto got = test::run(args);
        EXPECT_EQ(got.status, r.status) << r.args;
        EXPECT_NE((got.out + got.err).find(r.want), S::npos) << got.out << got.err;
    }
    EXPECT_EQ(sim.stop(), 0);
}

TEST(Tcp, ThePaymentAfterTheTerminalRestartedConnectsAgain) {
    KorvelComTools c;
    auto& loop = static_cast<PosixHostLoop&>(c.platform().loop());
    auto server = std::make_unique<sim::TcpServer>(loop, "127.0.0.1", 0, sim::TerminalOptions{});
    const uint16_t port = server->port();
    PortMap::set(9, server->address());
    c.setCommPort(9);
    const S first = c.POSMessage();  // the terminal echoes the request
    EXPECT_NE(first, "") << c.ReceiveError();
    server.reset();  // the connection drops while the control is idle: like a pulled cable
    EXPECT_TRUE(
        test::yieldUntil(loop, [&] { return dynamic_cast<BufferedSerialComm&>(c.comm()).gone(); }));
    server = std::make_unique<sim::TcpServer>(loop, "127.0.0.1", port, sim::TerminalOptions{});
    const S again = c.POSMessage();
    EXPECT_EQ(again + c.ReceiveError() + std::to_string(server->accepted()), first + "1");
    PortMap::clear();
}

}  // namespace
}  // namespace korvel
