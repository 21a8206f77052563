#include "korvelcom/platform/Endpoint.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "korvelcom/platform/SerialComm.h"

namespace korvel {
namespace {

std::mutex& mapMutex() {
    static std::mutex m;
    return m;
}

std::map<int16_t, std::string>& mapTable() {
    static std::map<int16_t, std::string> table;
    return table;
}

struct Scheme {
    const char* prefix;
    Endpoint::Kind kind;
};
constexpr Scheme kSchemes[] = {{"tcp://", Endpoint::Kind::Tcp},
                               {"rfc2217://", Endpoint::Kind::Rfc2217}};

}  // namespace

Endpoint Endpoint::parse(const std::string& text, int16_t port) {
    Endpoint e;
    e.port = port;
    const auto refuse = [&](const std::string& why) {
        e.path = text;
        return SerialError(e.label() + ": " + why);
    };
    if (text.empty()) throw refuse("no device or address given");
    const auto sep = text.find("://");
    if (sep == std::string::npos) {
        e.path = text;
        return e;
    }
    const Scheme* scheme = nullptr;
    for (const Scheme& s : kSchemes)
        if (text.compare(0, sep + 3, s.prefix) == 0) scheme = &s;
    if (!scheme) throw refuse("unknown scheme (a device path, tcp:// or rfc2217://)");
    const std::string rest = text.substr(sep + 3);
    // The port follows the last colon; a bracketed IPv6 address may hold colons of its own.
    const auto colon = rest.rfind(':');
    const bool bracketed = !rest.empty() && rest.front() == '[';
    if (colon == std::string::npos || (bracketed && rest.find(']') != colon - 1))
        throw refuse("no port number after the host (HOST:PORT)");
    std::string host = rest.substr(0, colon);
    if (bracketed) host = host.substr(1, host.size() - 2);
    if (host.empty() || (!bracketed && host.find(':') != std::string::npos) ||
        host.find_first_of("/[] ") != std::string::npos)
        throw refuse("no host name or address");
    const std::string digits = rest.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos || std::stoi(digits) < 1 ||
        std::stoi(digits) > 65535)
        throw refuse("the TCP port must be a number from 1 to 65535");
    e.kind = scheme->kind;
    e.path = host;
    e.tcpPort = static_cast<uint16_t>(std::stoi(digits));
    return e;
}

std::string Endpoint::text() const {
    if (kind == Kind::Device) return path;
    const std::string host = path.find(':') == std::string::npos ? path : "[" + path + "]";
    return (kind == Kind::Tcp ? "tcp://" : "rfc2217://") + host + ":" + std::to_string(tcpPort);
}

std::string Endpoint::label() const {
    return port == 0 ? text() : "COM" + std::to_string(port) + " (" + text() + ")";
}

void PortMap::set(int16_t port, std::string target) {
    std::lock_guard lock(mapMutex());
    if (target.empty()) {
        mapTable().erase(port);
    } else {
        mapTable()[port] = std::move(target);
    }
}

void PortMap::clear() {
    std::lock_guard lock(mapMutex());
    mapTable().clear();
}

std::string PortMap::lookup(int16_t port) {
    {
        std::lock_guard lock(mapMutex());
        const auto it = mapTable().find(port);
        if (it != mapTable().end()) return it->second;
    }
    const std::string var = "KORVELCOM_COM" + std::to_string(port);
    if (const char* env = std::getenv(var.c_str()); env && *env) return env;
    return "/dev/ttyS" + std::to_string(port - 1);
}

Endpoint PortMap::resolve(int16_t port) {
    return Endpoint::parse(lookup(port), port);
}

}  // namespace korvel
