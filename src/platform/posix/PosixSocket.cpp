// POSIX sockets behind the network transports' socket calls.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "platform/net/Socket.h"

namespace korvel::net {
namespace {

using AddrList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

/// Resolves `host`:`port` for a stream socket; `passive` for listening.  Null and `why` set
/// when the name does not resolve.
AddrList resolve(const std::string& host, uint16_t port, bool passive, std::string& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = passive ? AI_PASSIVE : 0;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int rc =
        ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        why = "host not found: " + host + " (" + ::gai_strerror(rc) + ")";
        return AddrList(nullptr, &::freeaddrinfo);
    }
    return AddrList(list, &::freeaddrinfo);
}

void tune(int fd) {
    const int on = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    (void)::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
}

int streamSocket(const addrinfo& a) {
    return ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
}

std::string causeOf(int e) {
    switch (e) {
        case ECONNREFUSED:
            return "connection refused";
        case ENETUNREACH:
        case EHOSTUNREACH:
            return "the host is unreachable";
        case ECONNRESET:
            return "the terminal reset the connection";
        default:
            return std::strerror(e);
    }
}

}  // namespace

SocketHandle connectTcp(const std::string& host, uint16_t port, int timeoutMs, std::string& why) {
    const AddrList list = resolve(host, port, false, why);
    if (!list) return kNoSocket;
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    why = "no address to connect to";
    for (const addrinfo* a = list.get(); a; a = a->ai_next) {
        const int fd = streamSocket(*a);
        if (fd < 0) {
            why = causeOf(errno);
            continue;
        }
        int e = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        while (e == EINPROGRESS || e == EINTR) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p{fd, POLLOUT, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) == 0) {
                e = ETIMEDOUT;
                break;
            }
            socklen_t len = sizeof e;
            if (p.revents != 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &len) != 0) e = errno;
            if (p.revents == 0) e = EINTR;
        }
        if (e == 0) {
            tune(fd);
            return fd;
        }
        ::close(fd);
        why = e == ETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) + " ms" : causeOf(e);
        if (e == ETIMEDOUT) break;  // the time-out covers every address together
    }
    return kNoSocket;
}

SocketHandle listenTcp(const std::string& host, uint16_t port, uint16_t& bound, std::string& why) {
    const AddrList list = resolve(host.empty() ? "0.0.0.0" : host, port, true, why);
    if (!list) return kNoSocket;
    const int fd = streamSocket(*list);
    if (fd < 0) {
        why = causeOf(errno);
        return kNoSocket;
    }
    const int on = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::bind(fd, list->ai_addr, list->ai_addrlen) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        why = causeOf(errno);
        ::close(fd);
        return kNoSocket;
    }
    bound = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(addr).sin6_port
                                             : reinterpret_cast<sockaddr_in&>(addr).sin_port);
    return fd;
}

SocketHandle acceptTcp(SocketHandle listener) {
    const int fd =
        ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return kNoSocket;
    tune(fd);
    return fd;
}

long sendSome(SocketHandle s, const char* data, std::size_t size, std::string& why) {
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        why = errno == EPIPE ? "the terminal closed the connection" : causeOf(errno);
        return kClosed;
    }
}

long receiveSome(SocketHandle s, char* data, std::size_t size, std::string& why) {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(s), data, size, 0);
        if (n > 0) return static_cast<long>(n);
        if (n == 0) {
            why = "the terminal closed the connection";
            return kClosed;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        why = causeOf(errno);
        return kClosed;
    }
}

bool waitReadable(SocketHandle s, int timeoutMs) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

void closeSocket(SocketHandle s, bool reset) {
    if (s == kNoSocket) return;
    if (reset) {
        const linger abort{1, 0};
        (void)::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(static_cast<int>(s));
}

ReadyHandle readyHandleOf(SocketHandle s) {
    return s;
}

}  // namespace korvel::net
