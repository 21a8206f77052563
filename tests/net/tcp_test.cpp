// The control and the simulator over loopback TCP: payments through the command line, the
// causes a failed connect reports, and a terminal that comes back after a restart.
#include <gtest/gtest.h>

#include "korvelcom/KorvelComTools.h"
#include "sim/PaymentResponder.h"
#include "sim/TcpServer.h"
#include "support/Process.h"
#include "support/Pty.h"

namespace korvel {
namespace {

using S = std::string;

TEST(Tcp, PaymentsAndAnExtendedOperationThroughTheCommandLine) {
    for (const S responder : {"payment", "extended"}) {
        test::Background sim(
            {KORVEL_CLI_PATH, "sim", "--tcp", "127.0.0.1:0", "--quiet", "--responder", responder});
        const S at = sim.firstLine(5000);
        ASSERT_EQ(at.rfind("tcp://127.0.0.1:", 0), 0u) << "the simulator printed no address";
        const auto r = responder == "payment"
                           ? test::run({KORVEL_CLI_PATH, "pay", "--device", at, "--amount",
                                        "00001234", "--json"})
                           : test::run({KORVEL_CLI_PATH, "auto", "ReadingCard", "--set",
                                        "POSAutoCardReader=1", "--device", at});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(responder == "payment" ? "\"EFTposAmount\":\"00001234\""
                                                    : "POSAutoStatus         '00'"),
                  S::npos)
            << r.out;
        EXPECT_EQ(sim.stop(), 0);
    }
}

TEST(Tcp, AFailedConnectSaysWhy) {
    const struct {
        const char* device;
        const char* cause;
    } rows[] = {
        {"tcp://127.0.0.1:1", "(tcp://127.0.0.1:1): connection refused\n"},
        {"rfc2217://[::1]:1", "(rfc2217://[::1]:1): connection refused\n"},
        {"tcp://no-such-host.invalid:4000", "(tcp://no-such-host.invalid:4000): host not found"},
    };
    for (const auto& r : rows) {
        const auto got = test::run({KORVEL_CLI_PATH, "pay", "--device", r.device});
        EXPECT_NE(got.status, 0);
        EXPECT_EQ(got.err.rfind("errorHandlerOpenSession: cannot open COM1 ", 0), 0u) << got.err;
        EXPECT_NE(got.err.find(r.cause), S::npos) << got.err;
    }
}

TEST(Tcp, ThePaymentAfterTheTerminalRestartedConnectsAgain) {
    KorvelComTools c;
    auto& loop = static_cast<PosixHostLoop&>(c.platform().loop());
    const auto serve = [&](uint16_t port) {
        return std::make_unique<sim::TcpServer>(loop, "127.0.0.1", port, sim::TerminalOptions{},
                                                [](sim::Terminal& t) {
                                                    t.setResponder(sim::paymentReply);
                                                    return nullptr;
                                                });
    };
    auto server = serve(0);
    const uint16_t port = server->port();
    PortMap::set(9, server->address());
    c.setCommPort(9);
    c.setPOSAmount("00001234");
    const S first = c.POSMessage();
    EXPECT_NE(first, "") << c.ReceiveError();
    server.reset();  // the connection drops while the control is idle: like a pulled cable
    EXPECT_TRUE(
        test::yieldUntil(loop, [&] { return dynamic_cast<BufferedSerialComm&>(c.comm()).gone(); }));
    server = serve(port);
    EXPECT_EQ(c.POSMessage(), first);
    EXPECT_EQ(c.ReceiveError() + std::to_string(server->accepted()), "1");
    PortMap::clear();
}

}  // namespace
}  // namespace korvel
