#include "StreamFormat.h"

namespace korvel::com {
namespace {

constexpr char kMagic[4] = {'K', 'V', 'C', 'P'};
constexpr uint32_t kMaxPayload = 64 * 1024;
enum Tag : uint8_t { kString = 1, kShort = 2, kLong = 3, kBool = 4 };

void put(std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Reads little-endian integers and byte runs, remembering whether any read ran past the end.
struct Reader {
    const std::string& data;
    std::size_t at = 0;
    bool ok = true;
    uint32_t get(int bytes) {
        if (data.size() - at < static_cast<std::size_t>(bytes)) {
            ok = false;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= static_cast<uint32_t>(static_cast<uint8_t>(data[at++])) << (8 * i);
        return v;
    }
    std::string text(std::size_t n) {
        if (data.size() - at < n) {
            ok = false;
            return {};
        }
        at += n;
        return data.substr(at - n, n);
    }
};

}  // namespace

std::string encodeProperties(const std::vector<MemoryPropertyBag::Entry>& entries) {
    std::string payload;
    for (const auto& e : entries) {
        const std::string key = e.key.substr(0, 255);
        put(payload, static_cast<uint32_t>(e.value.index() + 1), 1);
        put(payload, static_cast<uint32_t>(key.size()), 1);
        payload += key;
        if (const auto* s = std::get_if<std::string>(&e.value)) {
            const std::string text = s->substr(0, 0xFFFF);
            put(payload, static_cast<uint32_t>(text.size()), 2);
            payload += text;
        } else if (const auto* i = std::get_if<int16_t>(&e.value)) {
            put(payload, static_cast<uint16_t>(*i), 2);
        } else if (const auto* l = std::get_if<int32_t>(&e.value)) {
            put(payload, static_cast<uint32_t>(*l), 4);
        } else {
            put(payload, std::get<bool>(e.value) ? 1 : 0, 1);
        }
    }
    std::string out(kMagic, sizeof kMagic);
    put(out, kStreamVersion, 2);
    put(out, static_cast<uint32_t>(entries.size()), 2);
    put(out, static_cast<uint32_t>(payload.size()), 4);
    return out + payload;
}

std::optional<uint32_t> payloadLength(const std::string& header) {
    if (header.size() < kStreamHeaderSize || header.compare(0, 4, kMagic, 4) != 0)
        return std::nullopt;
    Reader r{header, 4};
    const uint32_t version = r.get(2);
    r.get(2);
    const uint32_t length = r.get(4);
    if (version != kStreamVersion || length > kMaxPayload) return std::nullopt;
    return length;
}

std::optional<std::vector<MemoryPropertyBag::Entry>> decodeProperties(const std::string& data) {
    const auto length = payloadLength(data);
    if (!length || data.size() != kStreamHeaderSize + *length) return std::nullopt;
    Reader r{data, 6};
    const uint32_t count = r.get(2);
    r.at = kStreamHeaderSize;
    std::vector<MemoryPropertyBag::Entry> entries;
    while (r.ok && r.at < data.size()) {
        const uint32_t tag = r.get(1);
        std::string key = r.text(r.get(1));
        PropValue value;
        switch (tag) {
            case kString:
                value = r.text(r.get(2));
                break;
            case kShort:
                value = static_cast<int16_t>(r.get(2));
                break;
            case kLong:
                value = static_cast<int32_t>(r.get(4));
                break;
            case kBool: {
                const uint32_t b = r.get(1);
                if (b > 1) return std::nullopt;
                value = b == 1;
                break;
            }
            default:
                return std::nullopt;
        }
        if (r.ok) entries.push_back({std::move(key), std::move(value)});
    }
    if (!r.ok || entries.size() != count) return std::nullopt;
    return entries;
}

}  // namespace korvel::com
