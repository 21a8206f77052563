// A serial port server we did not write: ser2net, started here on a free loopback port with a
// configuration of its own, the simulator on a pseudo-terminal behind it.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>

#include "korvelcom/KorvelComTools.h"
#include "platform/net/Socket.h"
#include "platform/posix/SerialDeviceTransport.h"
#include "sim/PaymentResponder.h"
#include "sim/Terminal.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/TempDir.h"

namespace korvel {
namespace {

using S = std::string;

/// Whether something listens on TCP port `port` (no probe connection: it would take the device).
bool listening(uint16_t port) {
    char want[32];
    std::snprintf(want, sizeof want, ":%04X 00000000:0000 0A", port);
    std::ifstream table("/proc/net/tcp");
    for (S line; std::getline(table, line);)
        if (line.find(want) != S::npos) return true;
    return false;
}

TEST(Ser2net, APaymentThroughRawTcpAndThroughRfc2217WithItsLineSettings) {
    const S server = "/usr/sbin/ser2net";  // where Debian's package puts it
    if (::access(server.c_str(), X_OK) != 0)
        GTEST_SKIP() << "ser2net is not installed (scripts/deps.sh installs it)";
    const struct {
        const char* accepter;
        const char* scheme;
        const char* result;  // paid | error tag
        const char* cause;   // why the port does not open
        bool carried;        // whether the line settings reach the device
    } rows[] = {
        {"tcp", "tcp", "paid|", "", false},
        {"telnet(rfc2217),tcp", "rfc2217", "paid|", "", true},
        {"telnet,tcp", "rfc2217", "|errorHandlerOpenSession", "refuses the COM port option", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.accepter);
        KorvelComTools c;
        auto& loop = static_cast<PosixHostLoop&>(c.platform().loop());
        Pty pty;
        auto end = std::make_unique<SerialDeviceTransport>();
        end->adopt(pty.masterFd(), pty.slavePath());
        sim::TerminalPort port(loop, std::move(end));
        sim::Terminal terminal(loop, port);
        terminal.setResponder(sim::paymentReply);

        uint16_t tcpPort = 0;
        S why;
        net::closeSocket(net::listenTcp("127.0.0.1", 0, tcpPort, why));
        const S dir = test::ownTempDir("net").string(), yaml = dir + "/ser2net.yaml";
        std::ofstream(yaml) << "connection: &terminal\n  accepter: " << r.accepter << ",127.0.0.1,"
                            << tcpPort << "\n  connector: serialdev," << pty.slavePath()
                            << ",9600n81,local\n";
        test::Background daemon({server, "-n", "-c", yaml, "-P", dir + "/ser2net.pid"});
        ASSERT_TRUE(test::yieldUntil(loop, [&] { return listening(tcpPort); }));

        PortMap::set(9, S(r.scheme) + "://127.0.0.1:" + std::to_string(tcpPort));
        c.setCommPort(9);
        c.setCommSettings("19200,n,8,2");
        c.setPOSAmount("00001234");
        if (*r.cause) {  // why, from a first open of its own
            try {
                c.comm().setPortOpen(true);
                ADD_FAILURE() << "the port opened";
            } catch (const SerialError& e) {
                EXPECT_NE(S(e.what()).find(r.cause), S::npos) << e.what();
            }
        }
        const S reply = c.POSMessage();
        EXPECT_EQ((reply.find("00001234") == S::npos ? reply : "paid") + "|" + c.ReceiveError(),
                  r.result);
        termios t{};
        ASSERT_EQ(::tcgetattr(pty.masterFd(), &t), 0);
        // A pseudo-terminal keeps the speed and the stop bits (it forces 8 bits, no parity).
        EXPECT_EQ(::cfgetospeed(&t) == B19200 && (t.c_cflag & CSTOPB), r.carried);
    }  // ser2net is stopped (and reaped) before the next row
    PortMap::clear();
}

}  // namespace
}  // namespace korvel
