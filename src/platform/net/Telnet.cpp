#include "platform/net/Telnet.h"

namespace korvel::net {

using namespace telnet;

namespace {

std::string command(unsigned char verb, unsigned char option) {
    return {static_cast<char>(IAC), static_cast<char>(verb), static_cast<char>(option)};
}

/// One COM port subnegotiation: IAC SB COM-PORT-OPTION command value... IAC SE.
std::string comPortCommand(unsigned char cmd, const std::string& value) {
    return std::string{static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(kComPort),
                       static_cast<char>(cmd)} +
           TelnetClient::escape(value) + std::string{static_cast<char>(IAC), static_cast<char>(SE)};
}

}  // namespace

std::string TelnetClient::greeting() {
    weBinary_ = theyBinary_ = true;  // asked for now; a refusal turns them off again
    return command(WILL, kComPort) + command(WILL, kBinary) + command(DO, kBinary);
}

std::string TelnetClient::escape(const std::string& data) {
    std::string out;
    out.reserve(data.size());
    for (const char c : data) {
        out += c;
        if (static_cast<unsigned char>(c) == IAC) out += c;
    }
    return out;
}

std::string TelnetClient::setLine(const LineSettings& line) {
    const auto baud = static_cast<uint32_t>(line.baud);
    const std::string rate{static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                           static_cast<char>(baud >> 8), static_cast<char>(baud)};
    const std::string parities = "noems";  // codes 1 to 5, in the option's order
    const auto parity = static_cast<char>(parities.find(line.parity) + 1);
    const char stop = line.stopHalfBits == 2 ? 1 : line.stopHalfBits == 4 ? 2 : 3;
    return comPortCommand(1, rate) + comPortCommand(2, std::string(1, char(line.dataBits))) +
           comPortCommand(3, std::string(1, parity)) + comPortCommand(4, std::string(1, stop));
}

void TelnetClient::negotiate(unsigned char verb, unsigned char option, std::string& replies) {
    // Answer only a change of state, so that two ends never echo each other for ever.
    const auto agree = [&](bool& on, bool want, unsigned char yes, unsigned char no) {
        if (on == want) return;
        on = want;
        replies += command(want ? yes : no, option);
    };
    switch (verb) {
        case DO:
        case DONT:
            if (option == kComPort) {
                comPort_ = verb == DO ? ComPort::Accepted : ComPort::Refused;
            } else if (option == kBinary) {
                agree(weBinary_, verb == DO, WILL, WONT);
            } else if (verb == DO) {
                replies += command(WONT, option);
            }
            break;
        case WILL:
        case WONT:
            if (option == kBinary) {
                agree(theyBinary_, verb == WILL, DO, DONT);
            } else if (option == kSuppressGoAhead) {
                agree(theySga_, verb == WILL, DO, DONT);
            } else if (verb == WILL) {
                replies += command(DONT, option);
            }
            break;
    }
}

void TelnetClient::feed(const std::string& in, std::string& data, std::string& replies) {
    for (const char c : in) {
        const auto b = static_cast<unsigned char>(c);
        switch (state_) {
            case State::Data:
                if (b == IAC) {
                    state_ = State::Iac;
                } else {
                    data += c;
                }
                break;
            case State::Iac:
                state_ = State::Data;
                if (b == IAC) {
                    data += c;
                } else if (b == SB) {
                    state_ = State::Sub;
                } else if (b >= WILL && b <= DONT) {
                    verb_ = b;
                    state_ = State::Verb;
                }  // any other command (NOP, go-ahead, break...) carries nothing for us
                break;
            case State::Verb:
                negotiate(verb_, b, replies);
                state_ = State::Data;
                break;
            case State::Sub:  // the server's notifications and answers: read and dropped
                if (b == IAC) state_ = State::SubIac;
                break;
            case State::SubIac:
                state_ = b == SE ? State::Data : State::Sub;
                break;
        }
    }
}

}  // namespace korvel::net
