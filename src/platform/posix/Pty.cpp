#include "platform/posix/Pty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace korvel {
namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void setRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) fail("pty: tcgetattr");
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) fail("pty: tcsetattr");
}

}  // namespace

Pty::Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0) fail("pty: posix_openpt");
    try {
        if (::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) fail("pty: fcntl");
        if (::grantpt(master_) != 0) fail("pty: grantpt");
        if (::unlockpt(master_) != 0) fail("pty: unlockpt");
        std::array<char, 128> name{};
        if (const int e = ::ptsname_r(master_, name.data(), name.size()); e != 0) {
            errno = e;
            fail("pty: ptsname_r");
        }
        slavePath_ = name.data();
        slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave_ < 0) fail("pty: open slave");
        // The slave's settings are the line's (no echo back to the master, no newline
        // translation); the master's own are made raw as well for the way back.
        setRaw(slave_);
        setRaw(master_);
    } catch (...) {
        closeMaster();
        throw;
    }
}

Pty::~Pty() {
    closeMaster();
}

std::size_t Pty::write(const std::string& bytes) {
    if (master_ < 0) throw std::system_error(EBADF, std::generic_category(), "pty: master closed");
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            fail("pty: write");
        }
    }
    return done;
}

std::string Pty::readAvailable() {
    std::string out;
    if (master_ < 0) return out;
    std::array<char, 4096> buf{};
    for (;;) {
        const ssize_t n = ::read(master_, buf.data(), buf.size());
        if (n > 0) {
            out.append(buf.data(), static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // EAGAIN: nothing more; EIO: no slave side open (cannot happen while the held
            // descriptor lives, but harmless); 0: the same on other systems.
            return out;
        }
    }
}

void Pty::closeMaster() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

}  // namespace korvel
