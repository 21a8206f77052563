#include "platform/posix/SerialDeviceTransport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "korvelcom/platform/SocketSerialComm.h"
#include "platform/BufferedSerialComm.h"

namespace korvel {
namespace {

struct SpeedEntry {
    int32_t baud;
    speed_t speed;
};

// The rates of the line settings that termios can express.
constexpr std::array<SpeedEntry, 11> kSpeeds = {{{110, B110},
                                                 {300, B300},
                                                 {600, B600},
                                                 {1200, B1200},
                                                 {2400, B2400},
                                                 {4800, B4800},
                                                 {9600, B9600},
                                                 {19200, B19200},
                                                 {38400, B38400},
                                                 {57600, B57600},
                                                 {115200, B115200}}};

std::optional<speed_t> speedFor(int32_t baud) {
    for (const auto& e : kSpeeds)
        if (e.baud == baud) return e.speed;
    return std::nullopt;
}

std::optional<int32_t> baudFor(speed_t speed) {
    for (const auto& e : kSpeeds)
        if (e.speed == speed) return e.baud;
    return std::nullopt;
}

#ifdef CMSPAR
constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
#else
constexpr tcflag_t kParityBits = PARENB | PARODD;
#endif

tcflag_t sizeFlag(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

int dataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

/// The parity flags for a parity letter; nothing when termios cannot express it here.
std::optional<tcflag_t> parityFlags(char parity) {
    switch (parity) {
        case 'n':
            return tcflag_t{0};
        case 'e':
            return tcflag_t{PARENB};
        case 'o':
            return tcflag_t{PARENB | PARODD};
#ifdef CMSPAR
        // Stick parity: the parity bit is always the PARODD value (1 for mark, 0 for space).
        case 'm':
            return tcflag_t{PARENB | PARODD | CMSPAR};
        case 's':
            return tcflag_t{PARENB | CMSPAR};
#endif
        default:
            return std::nullopt;
    }
}

char parityOf(tcflag_t cflag) {
    if (!(cflag & PARENB)) return 'n';
#ifdef CMSPAR
    if (cflag & CMSPAR) return (cflag & PARODD) ? 'm' : 's';
#endif
    return (cflag & PARODD) ? 'o' : 'e';
}

/// Raw mode: bytes pass unchanged in both directions, reads never wait.
void makeRaw(termios& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | kParityBits);
#ifdef CRTSCTS
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

std::string errnoText(int e) {
    return std::strerror(e);
}

/// Closes a descriptor unless released, so that a failed open leaves nothing behind.
class FdGuard {
  public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

}  // namespace

SerialDeviceTransport::~SerialDeviceTransport() {
    close();
}

ReadyHandle SerialDeviceTransport::readyHandle() const {
    return fd_ < 0 || !gone_.empty() ? kNoReadyHandle : fd_;
}

void SerialDeviceTransport::open(const Endpoint& where, const LineSettings& line) {
    if (fd_ >= 0) throw SerialError(where.label() + ": the transport is already open");
    const std::string name = where.label();
    if (where.kind != Endpoint::Kind::Device) throw SerialError(name + ": not a serial device");
    const std::string& path = where.path;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        // EIO and ENXIO: a device node without hardware behind it (a ttyS without a UART).
        if (e == ENOENT || e == ENODEV || e == ENXIO || e == ENOTDIR || e == EIO)
            throw SerialError(name + ": the device does not exist");
        // EBUSY: another opener set TIOCEXCL (root is not refused there; see the flock below).
        if (e == EBUSY) throw SerialError(name + ": the device is busy");
        throw SerialError(name + ": cannot open the device: " + errnoText(e));
    }
    FdGuard guard(fd);
    if (!::isatty(fd)) throw SerialError(name + ": not a serial device");

    // The advisory lock is what every opener of ours, in any process and whatever its
    // privileges, respects; TIOCEXCL also keeps other unprivileged programs out.  The lock is
    // taken first so that a refused opener never touches the owner's exclusive flag.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        if (e == EWOULDBLOCK) throw SerialError(name + ": the device is busy");
        // Other failures (a file system without locks) leave only TIOCEXCL to guard the port.
    }
    (void)::ioctl(fd, TIOCEXCL);

    fd_ = fd;
    where_ = where;
    try {
        applySettings(line);
    } catch (...) {
        (void)::ioctl(fd, TIOCNXCL);
        fd_ = -1;
        where_ = {};
        throw;
    }
    // A port starts empty: whatever the device received while nobody had it open is dropped.
    (void)::tcflush(fd, TCIOFLUSH);
    owned_ = true;
    tx_.clear();
    gone_.clear();
    guard.release();
}

void SerialDeviceTransport::adopt(int fd, const std::string& name) {
    close();
    fd_ = fd;
    owned_ = false;
    where_ = Endpoint{};
    where_.path = name;
    tx_.clear();
    gone_.clear();
}

void SerialDeviceTransport::applySettings(const LineSettings& want) {
    const std::string name = where_.label();
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        throw SerialError(name + ": cannot read the line settings: " + errnoText(errno));

    const auto speed = speedFor(want.baud);
    if (!speed)
        throw SerialError(name + ": baud rate " + std::to_string(want.baud) +
                          " is not supported by this system's serial driver");
    makeRaw(t);
    if (::cfsetispeed(&t, *speed) != 0 || ::cfsetospeed(&t, *speed) != 0)
        throw SerialError(name + ": baud rate " + std::to_string(want.baud) + " refused");
    // termios knows one or two stop bits; 1.5 (only meaningful with 5 data bits) becomes 2.
    if (want.stopHalfBits > 2) t.c_cflag |= CSTOPB;

    const auto parity = parityFlags(want.parity);
    termios full = t;
    full.c_cflag |= sizeFlag(want.dataBits) | parity.value_or(0);

    bool accepted = false;
    termios back{};
    if (parity && ::tcsetattr(fd_, TCSANOW, &full) == 0 && ::tcgetattr(fd_, &back) == 0) {
        const tcflag_t mask = CSIZE | PARENB | ((full.c_cflag & PARENB) ? kParityBits : 0);
        accepted = (back.c_cflag & mask) == (full.c_cflag & mask);
    }
    if (!accepted) {
        // The device refused the data bits or the parity (a pseudo-terminal forces 8 data bits
        // without parity): run with what it can do instead of failing.
        termios plain = t;
        plain.c_cflag |= CS8;
        if (::tcsetattr(fd_, TCSANOW, &plain) != 0)
            throw SerialError(name + ": cannot apply the line settings: " + errnoText(errno));
        if (::tcgetattr(fd_, &back) != 0) back = plain;
    }

    applied_ = want;
    applied_.baud = baudFor(::cfgetospeed(&back)).value_or(want.baud);
    applied_.parity = parityOf(back.c_cflag);
    applied_.dataBits = dataBitsOf(back.c_cflag);
    applied_.stopHalfBits = (back.c_cflag & CSTOPB) ? 4 : 2;
}

void SerialDeviceTransport::close() noexcept {
    if (fd_ < 0) return;
    // One last attempt at what is still queued; the rest is dropped, a close never waits.
    if (gone_.empty()) (void)flushOutput();
    tx_.clear();
    if (owned_) {
        (void)::ioctl(fd_, TIOCNXCL);
        (void)::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
    fd_ = -1;
    where_ = {};
    gone_.clear();
}

void SerialDeviceTransport::markGone(const std::string& reason) {
    if (!gone_.empty()) return;
    gone_ = reason;
    tx_.clear();
    // The dead descriptor guards nothing any more: its lock would only refuse the same device
    // if it is still (or again) there under the same name.
    if (owned_) (void)::flock(fd_, LOCK_UN);
}

bool SerialDeviceTransport::flushOutput() {
    while (!tx_.empty()) {
        const ssize_t n = ::write(fd_, tx_.data(), tx_.size());
        if (n > 0) {
            tx_.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        markGone(n < 0 ? "write failed: " + errnoText(errno) : std::string("the device hung up"));
        return false;
    }
    return true;
}

void SerialDeviceTransport::write(const std::string& bytes) {
    if (fd_ < 0) throw SerialError("the device is not open");
    if (!gone_.empty()) throw SerialError(gone_);
    // Behind bytes still queued, so that the order on the wire stays the order of the calls.
    tx_ += bytes;
    if (!flushOutput()) throw SerialError(gone_);
}

std::size_t SerialDeviceTransport::read(std::string& into, std::size_t max) {
    if (fd_ < 0 || !gone_.empty()) return 0;
    if (!flushOutput()) return 0;

    // One poll tells both whether bytes are waiting and whether the device hung up, so an idle
    // port costs one system call per read.  (A read alone cannot tell: with VMIN 0 a terminal
    // reads 0 both when nothing is waiting and once it has hung up, and a hung-up terminal
    // polls readable for ever.)
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return 0;

    const std::size_t before = into.size();
    if (p.revents & POLLIN) {
        std::array<char, 4096> buf;
        while (gone_.empty() && into.size() - before < max) {
            const ssize_t n =
                ::read(fd_, buf.data(), std::min(buf.size(), max - (into.size() - before)));
            if (n > 0) {
                into.append(buf.data(), static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            } else {
                markGone("read failed: " + errnoText(errno));
            }
        }
        std::fill(buf.begin(), buf.end(), '\0');
    }
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) markGone("the device hung up");
    // Bytes read before a hang-up are still handed out.
    return into.size() - before;
}

std::unique_ptr<Transport> makeSystemTransport(const Endpoint& where) {
    if (auto network = makeNetworkTransport(where)) return network;
    return std::make_unique<SerialDeviceTransport>();
}

// A port without a platform reaches its endpoints through this OS's transports.
BufferedSerialComm::Opener systemOpener() {
    return [](int16_t port, const LineSettings& line) {
        const Endpoint where = PortMap::resolve(port);
        std::unique_ptr<Transport> transport = makeSystemTransport(where);
        transport->open(where, line);
        return transport;
    };
}

}  // namespace korvel
