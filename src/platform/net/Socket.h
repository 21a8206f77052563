// The few socket calls the network transports need, one implementation per operating system
// (POSIX sockets in platform/posix/PosixSocket.cpp).  Everything here is non-blocking except
// the bounded connect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "korvelcom/platform/HostLoop.h"

namespace korvel::net {

/// An open stream socket (a descriptor on POSIX); `kNoSocket` for none.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

/// Connects to `host` (a name, an IPv4 or an IPv6 address) on TCP port `port`, trying each
/// address the name resolves to until one answers or `timeoutMs` milliseconds have passed in
/// all.  The socket comes back non-blocking, with TCP_NODELAY and keep-alive on.  Returns
/// `kNoSocket` and the cause in `why` ("connection refused", "host not found: ...",
/// "no answer within 3000 ms", ...) when it cannot.
SocketHandle connectTcp(const std::string& host, uint16_t port, int timeoutMs, std::string& why);

/// Listens on `host` (an address or a name; empty: every IPv4 address) and TCP port `port`
/// (0: one the system picks).  Sets `bound` to the port listened on.  Returns `kNoSocket` and
/// the cause in `why` when it cannot.
SocketHandle listenTcp(const std::string& host, uint16_t port, uint16_t& bound, std::string& why);

/// A connection waiting on `listener`, non-blocking with TCP_NODELAY; `kNoSocket` when none.
SocketHandle acceptTcp(SocketHandle listener);

/// Outcome of a send or receive: bytes moved (> 0), nothing for now (0), or the connection is
/// over (`kClosed`, with the cause in `why`).
inline constexpr long kClosed = -1;
/// Sends at most `size` bytes without waiting (never raises SIGPIPE).
long sendSome(SocketHandle s, const char* data, std::size_t size, std::string& why);
/// Receives at most `size` bytes without waiting; a peer that closed its side is `kClosed`
/// with `why` "the terminal closed the connection".
long receiveSome(SocketHandle s, char* data, std::size_t size, std::string& why);

/// Waits at most `timeoutMs` milliseconds for bytes (or the end of the connection) on `s`;
/// returns whether something came.
bool waitReadable(SocketHandle s, int timeoutMs);

/// Closes `s`; with `reset`, aborts the connection (the peer sees a reset, not an orderly end).
void closeSocket(SocketHandle s, bool reset = false);

/// What the host loop waits on for bytes arriving on (or connections waiting on) `s`.
ReadyHandle readyHandleOf(SocketHandle s);

}  // namespace korvel::net
