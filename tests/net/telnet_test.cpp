// The telnet client of a serial port server: what it makes of the server's bytes, and the
// bytes it sends (offers, escaping, the COM port option's line settings).
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/net/Telnet.h"

namespace korvel::net {
namespace {

/// Bytes as "FF FA 2C", printable ones as themselves: "A FF FF B".
std::string hex(const std::string& s) {
    std::string out;
    char b[5];
    for (const char c : s)
        out += std::string(
            b, std::snprintf(b, sizeof b, c > ' ' && c < 127 ? " %c" : " %02X", c & 0xFF));
    return out.empty() ? out : out.substr(1);
}

TEST(Telnet, ServerBytesSplitIntoDataAndAnswersWhereverTheyAreCutAndClientBytesAreExact) {
    using C = TelnetClient::ComPort;
    struct Row {
        const char* name;
        std::string in;
        const char* data;
        const char* replies;
        C comPort;
    };
    const Row rows[] = {
        {"data", "AB\x02\x03", "A B 02 03", "", C::Asked},
        {"doubled 255 is one data byte", "A\xff\xff-", "A FF -", "", C::Asked},
        {"COM port accepted", "\xff\xfd\x2c", "", "", C::Accepted},
        {"COM port refused", "\xff\xfe\x2c", "", "", C::Refused},
        {"echo refused both ways", "\xff\xfb\x01\xff\xfd\x01", "", "FF FE 01 FF FC 01", C::Asked},
        {"go-ahead suppression accepted once", "\xff\xfb\x03\xff\xfb\x03", "", "FF FD 03",
         C::Asked},
        {"binary refused", std::string("\xff\xfe\x00", 3), "", "FF FC 00", C::Asked},
        {"notifications and answers dropped",
         "k\xff\xfa\x2c\x6a\x60\xff\xf0l\xff\xfa\x2c\x65\xff\xff\xff\xf0m\xff\xf1n", "k l m n", "",
         C::Asked},
    };
    for (const Row& r : rows) {
        for (const bool bytewise : {false, true}) {
            SCOPED_TRACE(std::string(r.name) + (bytewise ? ", a byte at a time" : ""));
            TelnetClient t;
            (void)t.greeting();
            std::string data, replies;
            if (bytewise) {
                for (const char c : r.in)
                    t.feed(std::string(1, c), data, replies);
            } else {
                t.feed(r.in, data, replies);
            }
            EXPECT_EQ(hex(data), r.data);
            EXPECT_EQ(hex(replies), r.replies);
            EXPECT_EQ(t.comPort(), r.comPort);
        }
    }
    // A server that offers binary before our offers have gone is agreed to, both ways.
    TelnetClient early;
    std::string data, replies;
    early.feed(std::string("\xff\xfb\x00\xff\xfd\x00", 6), data, replies);
    EXPECT_EQ(hex(replies), "FF FD 00 FF FB 00");
    // What the client sends: its offers, data with 255 doubled, the line settings.
    EXPECT_EQ(hex(TelnetClient().greeting()), "FF FB , FF FB 00 FF FD 00");
    EXPECT_EQ(hex(TelnetClient::escape("a\xffz\xff")), "a FF FF z FF FF");
    // SET-BAUDRATE, SET-DATASIZE, SET-PARITY, SET-STOPSIZE; a 255 inside is doubled too.
    const std::string sb = "FF FA , ", se = " FF F0 ";
    const struct {
        LineSettings line;
        std::string bytes;
    } lines[] = {
        {{9600, 'e', 7, 2}, "01 00 00 % 80|02 07|03 03|04 01"},
        {{115200, 'n', 8, 4}, "01 00 01 C2 00|02 08|03 01|04 02"},
        {{255, 'o', 5, 3}, "01 00 00 00 FF FF|02 05|03 02|04 03"},
        {{1200, 'm', 6, 2}, "01 00 00 04 B0|02 06|03 04|04 01"},
        {{300, 's', 8, 2}, "01 00 00 01 ,|02 08|03 05|04 01"},
    };
    for (const auto& l : lines) {
        std::string want = sb + l.bytes + se;
        for (std::size_t at; (at = want.find('|')) != std::string::npos;)
            want.replace(at, 1, se + sb);
        EXPECT_EQ(hex(TelnetClient::setLine(l.line)) + " ", want) << l.bytes;
    }
}

}  // namespace
}  // namespace korvel::net
