// Winsock behind the network transports' socket calls.  The host loop waits on HANDLEs, so each
// socket gets an event (WSAEventSelect: bytes, the end of the connection, a waiting
// connection) that is its ready handle.  The event is manual-reset: it is reset just before
// every receive or accept, and a receive that finds nothing re-arms Winsock's notice, so bytes
// arriving after it set the event again and no arrival is missed.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "platform/net/Socket.h"

namespace korvel::net {
namespace {

// Winsock is started once for the process and left running (stopping it at exit would race
// with sockets other threads still close).
bool started() {
    static const bool ok = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}

std::mutex eventsLock;
std::map<SocketHandle, WSAEVENT>& events() {
    static std::map<SocketHandle, WSAEVENT> map;
    return map;
}

WSAEVENT eventOf(SocketHandle s) {
    std::lock_guard<std::mutex> lock(eventsLock);
    const auto it = events().find(s);
    return it == events().end() ? WSA_INVALID_EVENT : it->second;
}

SOCKET raw(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

// Gives `s` its event and makes it non-blocking; false when Winsock refuses.
bool watch(SOCKET s, long what) {
    const WSAEVENT ev = ::WSACreateEvent();
    if (ev == WSA_INVALID_EVENT) return false;
    if (::WSAEventSelect(s, ev, what) != 0) {
        ::WSACloseEvent(ev);
        return false;
    }
    std::lock_guard<std::mutex> lock(eventsLock);
    events()[static_cast<SocketHandle>(s)] = ev;
    return true;
}

void tune(SOCKET s) {
    const BOOL on = TRUE;
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    (void)::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
}

std::string causeOf(int e) {
    switch (e) {
        case WSAECONNREFUSED:
            return "connection refused";
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
            return "the host is unreachable";
        case WSAECONNRESET:
        case WSAECONNABORTED:
            return "the terminal reset the connection";
        case WSAHOST_NOT_FOUND:
        case WSANO_DATA:
            return "no such host";
        default:
            return "socket error " + std::to_string(e);
    }
}

using AddrList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

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
        why = "host not found: " + host + " (" + causeOf(rc) + ")";
        return AddrList(nullptr, &::freeaddrinfo);
    }
    return AddrList(list, &::freeaddrinfo);
}

}  // namespace

SocketHandle connectTcp(const std::string& host, uint16_t port, int timeoutMs, std::string& why) {
    if (!started()) {
        why = "Winsock did not start";
        return kNoSocket;
    }
    const AddrList list = resolve(host, port, false, why);
    if (!list) return kNoSocket;
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    why = "no address to connect to";
    for (const addrinfo* a = list.get(); a; a = a->ai_next) {
        const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            why = causeOf(::WSAGetLastError());
            continue;
        }
        u_long nonBlocking = 1;
        ::ioctlsocket(s, FIONBIO, &nonBlocking);
        int e = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0
                    ? 0
                    : ::WSAGetLastError();
        if (e == WSAEWOULDBLOCK) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval tv{static_cast<long>(left > 0 ? left / 1000 : 0),
                       static_cast<long>(left > 0 ? (left % 1000) * 1000 : 0)};
            const int n = ::select(0, nullptr, &writable, &failed, &tv);
            if (n == 0) {
                e = WSAETIMEDOUT;
            } else {
                int soError = 0;
                int len = sizeof soError;
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
                e = FD_ISSET(s, &failed) && soError == 0 ? WSAECONNREFUSED : soError;
            }
        }
        if (e == 0 && watch(s, FD_READ | FD_CLOSE)) {
            tune(s);
            return static_cast<SocketHandle>(s);
        }
        ::closesocket(s);
        why = e == WSAETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) + " ms"
                                : causeOf(e);
        if (e == WSAETIMEDOUT) break;  // the time-out covers every address together
    }
    return kNoSocket;
}

SocketHandle listenTcp(const std::string& host, uint16_t port, uint16_t& bound, std::string& why) {
    if (!started()) {
        why = "Winsock did not start";
        return kNoSocket;
    }
    const AddrList list = resolve(host.empty() ? "0.0.0.0" : host, port, true, why);
    if (!list) return kNoSocket;
    const SOCKET s = ::socket(list->ai_family, list->ai_socktype, list->ai_protocol);
    if (s == INVALID_SOCKET) {
        why = causeOf(::WSAGetLastError());
        return kNoSocket;
    }
    sockaddr_storage addr{};
    int len = sizeof addr;
    if (::bind(s, list->ai_addr, static_cast<int>(list->ai_addrlen)) != 0 || ::listen(s, 16) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || !watch(s, FD_ACCEPT)) {
        why = causeOf(::WSAGetLastError());
        ::closesocket(s);
        return kNoSocket;
    }
    bound = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(addr).sin6_port
                                             : reinterpret_cast<sockaddr_in&>(addr).sin_port);
    return static_cast<SocketHandle>(s);
}

SocketHandle acceptTcp(SocketHandle listener) {
    if (const WSAEVENT ev = eventOf(listener); ev != WSA_INVALID_EVENT) ::WSAResetEvent(ev);
    const SOCKET s = ::accept(raw(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kNoSocket;
    // An accepted socket inherits the listener's event selection: give it its own.
    if (!watch(s, FD_READ | FD_CLOSE)) {
        ::closesocket(s);
        return kNoSocket;
    }
    tune(s);
    return static_cast<SocketHandle>(s);
}

long sendSome(SocketHandle s, const char* data, std::size_t size, std::string& why) {
    const int n = ::send(raw(s), data, static_cast<int>(size), 0);
    if (n >= 0) return n;
    const int e = ::WSAGetLastError();
    if (e == WSAEWOULDBLOCK) return 0;
    why = causeOf(e);
    return kClosed;
}

long receiveSome(SocketHandle s, char* data, std::size_t size, std::string& why) {
    if (const WSAEVENT ev = eventOf(s); ev != WSA_INVALID_EVENT) ::WSAResetEvent(ev);
    const int n = ::recv(raw(s), data, static_cast<int>(size), 0);
    if (n > 0) return n;
    if (n == 0) {
        why = "the terminal closed the connection";
        return kClosed;
    }
    const int e = ::WSAGetLastError();
    if (e == WSAEWOULDBLOCK) return 0;
    why = causeOf(e);
    return kClosed;
}

bool waitReadable(SocketHandle s, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(raw(s), &readable);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &tv) > 0;
}

void closeSocket(SocketHandle s, bool reset) {
    if (s == kNoSocket) return;
    if (reset) {
        const linger abort{1, 0};
        (void)::setsockopt(raw(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                           sizeof abort);
    }
    ::closesocket(raw(s));
    std::lock_guard<std::mutex> lock(eventsLock);
    if (const auto it = events().find(s); it != events().end()) {
        ::WSACloseEvent(it->second);
        events().erase(it);
    }
}

ReadyHandle readyHandleOf(SocketHandle s) {
    const WSAEVENT ev = eventOf(s);
    return ev == WSA_INVALID_EVENT ? kNoReadyHandle : reinterpret_cast<ReadyHandle>(ev);
}

}  // namespace korvel::net
