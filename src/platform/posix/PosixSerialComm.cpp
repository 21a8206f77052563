#include "platform/posix/PosixSerialComm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace korvel {
namespace {

// ---- port numbers to devices --------------------------------------------------------------

std::mutex& mapMutex() {
    static std::mutex m;
    return m;
}

std::map<int16_t, std::string>& mapTable() {
    static std::map<int16_t, std::string> table;
    return table;
}

// ---- termios ------------------------------------------------------------------------------

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

int64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
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

/// Largest amount one service reads, so that a flood cannot hold the loop.
constexpr std::size_t kMaxReadPerService = 64 * 1024;

}  // namespace

// ---- PortMap --------------------------------------------------------------------------------

void PortMap::set(int16_t port, std::string device) {
    std::lock_guard lock(mapMutex());
    if (device.empty()) {
        mapTable().erase(port);
    } else {
        mapTable()[port] = std::move(device);
    }
}

void PortMap::clear() {
    std::lock_guard lock(mapMutex());
    mapTable().clear();
}

std::string PortMap::devicePath(int16_t port) {
    {
        std::lock_guard lock(mapMutex());
        const auto it = mapTable().find(port);
        if (it != mapTable().end()) return it->second;
    }
    const std::string var = "KORVELCOM_COM" + std::to_string(port);
    if (const char* env = std::getenv(var.c_str()); env && *env) return env;
    return "/dev/ttyS" + std::to_string(port - 1);
}

// ---- PosixSerialComm -----------------------------------------------------------------------

PosixSerialComm::PosixSerialComm(HostLoop& loop) : BufferedSerialComm(loop) {
    applied_ = lineSettings();
}

PosixSerialComm::~PosixSerialComm() {
    if (fd_ >= 0) doClose();
    if (adopt_ >= 0) ::close(adopt_);
}

int PosixSerialComm::waitHandle() const {
    // A full receive buffer reads nothing more: waking for the readable device would spin.
    return gone() || buffered_ >= kReceiveBufferSize ? -1 : fd_;
}

int64_t PosixSerialComm::nowUs() {
    return monotonicUs();
}

void PosixSerialComm::doOpen() {
    if (adopt_ >= 0) {
        // The device a vanished one was replaced with, already opened and configured.
        fd_ = std::exchange(adopt_, -1);
        path_ = std::move(adoptPath_);
    } else {
        fd_ = openDevice(path_);
    }
    tx_.clear();
    buffered_ = 0;  // the receive buffer starts empty at every open
}

int PosixSerialComm::openDevice(std::string& pathOut) {
    const std::string path = PortMap::devicePath(commPort());
    const std::string name = "COM" + std::to_string(commPort()) + " (" + path + ")";
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

    try {
        configure(fd, name);
    } catch (...) {
        (void)::ioctl(fd, TIOCNXCL);
        throw;
    }
    // A port starts empty: whatever the device received while nobody had it open is dropped.
    (void)::tcflush(fd, TCIOFLUSH);
    pathOut = path;
    return guard.release();
}

void PosixSerialComm::configure(int fd, const std::string& name) {
    const LineSettings& want = lineSettings();
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
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
    if (parity && ::tcsetattr(fd, TCSANOW, &full) == 0 && ::tcgetattr(fd, &back) == 0) {
        const tcflag_t mask = CSIZE | PARENB | ((full.c_cflag & PARENB) ? kParityBits : 0);
        accepted = (back.c_cflag & mask) == (full.c_cflag & mask);
    }
    if (!accepted) {
        // The device refused the data bits or the parity (a pseudo-terminal forces 8 data bits
        // without parity): run with what it can do instead of failing.
        termios plain = t;
        plain.c_cflag |= CS8;
        if (::tcsetattr(fd, TCSANOW, &plain) != 0)
            throw SerialError(name + ": cannot apply the line settings: " + errnoText(errno));
        if (::tcgetattr(fd, &back) != 0) back = plain;
    }

    applied_ = want;
    applied_.baud = baudFor(::cfgetospeed(&back)).value_or(want.baud);
    applied_.parity = parityOf(back.c_cflag);
    applied_.dataBits = dataBitsOf(back.c_cflag);
    applied_.stopHalfBits = (back.c_cflag & CSTOPB) ? 4 : 2;
}

void PosixSerialComm::doClose() noexcept {
    if (fd_ < 0) return;
    // One last attempt at what is still queued; the rest is dropped, a close never waits.
    if (!gone()) (void)flushOutput();
    tx_.clear();
    (void)::ioctl(fd_, TIOCNXCL);
    (void)::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
    path_.clear();
    buffered_ = 0;
}

std::string PosixSerialComm::flushOutput() {
    while (!tx_.empty()) {
        const ssize_t n = ::write(fd_, tx_.data(), tx_.size());
        if (n > 0) {
            tx_.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        const std::string reason =
            n < 0 ? "write failed: " + errnoText(errno) : std::string("the device hung up");
        markGone(reason);
        tx_.clear();
        return reason;
    }
    return {};
}

void PosixSerialComm::doWrite(const std::string& bytes) {
    // Behind bytes still queued, so that the order on the wire stays the order of the calls.
    tx_ += bytes;
    const std::string failure = flushOutput();
    if (!failure.empty()) throw SerialError("Output: " + failure);
}

bool PosixSerialComm::gatherInput() {
    if (fd_ < 0 || gone()) return false;
    (void)flushOutput();
    if (gone()) return false;

    // One poll tells both whether bytes are waiting and whether the device hung up, so an idle
    // port costs one system call per service.  (A read alone cannot tell: with VMIN 0 a
    // terminal reads 0 both when nothing is waiting and once it has hung up, and a hung-up
    // terminal polls readable for ever.)
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;

    std::string got;
    // A full receive buffer stops the reading: the device keeps the rest (a pseudo-terminal
    // holds its writer back, a UART overruns), so a flood cannot grow the buffer without end.
    const std::size_t room = kReceiveBufferSize - std::min(buffered_, kReceiveBufferSize);
    const std::size_t limit = std::min(kMaxReadPerService, room);
    if (p.revents & POLLIN) {
        std::array<char, 4096> buf;
        while (!gone() && got.size() < limit) {
            const ssize_t n = ::read(fd_, buf.data(), std::min(buf.size(), limit - got.size()));
            if (n > 0) {
                got.append(buf.data(), static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            } else {
                markGone("read failed: " + errnoText(errno));
            }
        }
    }
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) markGone("the device hung up");
    // Bytes read before a hang-up are still handed out.
    deliver(got);
    buffered_ += got.size();
    return !got.empty();
}

bool PosixSerialComm::hasPending() const {
    // What a vanished device left in the buffer can no longer be read (every member throws),
    // so it must not keep a waiting loop polling every millisecond.
    return !gone() && BufferedSerialComm::hasPending();
}

bool PosixSerialComm::reattach() {
    if (!gone()) return true;
    // The dead descriptor guards nothing any more: its lock would only refuse the same device
    // if it is still (or again) there under the same name.
    (void)::flock(fd_, LOCK_UN);
    // It stays open while the device is looked for, so that the name it had (a
    // pseudo-terminal's number) cannot be handed to another device and taken for it here.
    std::string path;
    try {
        adopt_ = openDevice(path);
    } catch (const SerialError&) {
        return false;  // still gone: the caller's member reports it
    }
    adoptPath_ = std::move(path);
    // Close the dead device and take the new one; what the old one left unread is dropped.
    setPortOpen(false);
    setPortOpen(true);
    return true;
}

int32_t PosixSerialComm::inBufferCount() {
    if (gone()) reattach();
    return BufferedSerialComm::inBufferCount();
}

std::string PosixSerialComm::input() {
    if (gone()) reattach();
    std::string taken = BufferedSerialComm::input();
    buffered_ -= std::min(buffered_, taken.size());
    return taken;
}

void PosixSerialComm::output(const std::string& bytes) {
    if (gone()) reattach();
    BufferedSerialComm::output(bytes);
}

}  // namespace korvel
