#include "util/Scramble.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "util/Checksum.h"

namespace korvel::util {
namespace {

namespace fs = std::filesystem;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Deletes an existing file (not a directory); failures are ignored.
void deleteIfPresent(const std::string& name) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(name, ec);
    if (ec || !fs::exists(st) || fs::is_directory(st)) return;
    fs::remove(name, ec);
}

}  // namespace

double leadingNumber(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    // The longest run of digits with at most one decimal point.
    const std::size_t first = pos;
    bool anyDigit = false;
    while (pos < text.size() && isDigit(text[pos])) {
        ++pos;
        anyDigit = true;
    }
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        while (pos < text.size() && isDigit(text[pos])) {
            ++pos;
            anyDigit = true;
        }
    }
    if (!anyDigit) return 0.0;
    double value = 0.0;
    const auto [ptr, ec] =
        std::from_chars(text.data() + first, text.data() + pos, value, std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range) value = std::numeric_limits<double>::infinity();
    (void)ptr;
    return negative ? -value : value;
}

std::optional<int16_t> scrambleKeyCode(std::string_view storedText) {
    // nearbyint rounds in the default mode, to nearest with ties to even.
    const double rounded = std::nearbyint(leadingNumber(storedText));
    if (!(rounded >= std::numeric_limits<int16_t>::min() &&
          rounded <= std::numeric_limits<int16_t>::max()))
        return std::nullopt;
    return static_cast<int16_t>(rounded);
}

std::string scrambleBaseName(std::string_view fileName) {
    const auto cut = fileName.find_last_of("\\/");
    std::string base(cut == std::string_view::npos ? fileName : fileName.substr(cut + 1));
    for (char& c : base)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return base;
}

ScrambleStream::ScrambleStream(int16_t keyCode, std::string_view fileName)
    : h_(static_cast<int16_t>(keyCode / 256)), s_(h_) {
    for (char c : scrambleBaseName(fileName)) {
        int s = s_ + static_cast<unsigned char>(c);
        if (s >= 256) s -= 256;
        s_ = static_cast<int16_t>(s);  // H is -128 to 127, so s stays within -128 to 255
    }
}

std::optional<uint8_t> ScrambleStream::keyByte() const {
    if (s_ < 0 || s_ > 255) return std::nullopt;
    return static_cast<uint8_t>(s_);
}

bool ScrambleStream::advance(uint8_t plain) {
    // (s + p) + i in signed 16-bit arithmetic: either addition may overflow.
    const int32_t sp = int32_t{s_} + plain;
    const int32_t sum = sp + i_;
    if (sp > std::numeric_limits<int16_t>::max() || sum > std::numeric_limits<int16_t>::max())
        return false;
    if (i_ == std::numeric_limits<int16_t>::max()) return false;  // no next index
    s_ = static_cast<int16_t>((sum ^ h_) & 255);
    ++i_;
    return true;
}

bool scrambleToFile(const std::string& fileName, std::string& buffer, int16_t length,
                    std::string_view keyCodeText) {
    if (fileName.empty() || length < 1) return false;
    deleteIfPresent(fileName);
    const std::optional<int16_t> keyCode = scrambleKeyCode(keyCodeText);
    if (!keyCode) return false;
    ScrambleStream stream(*keyCode, fileName);

    std::string scrambled;
    scrambled.reserve(static_cast<std::size_t>(length));
    std::size_t taken = 0;
    bool ok = true;
    for (int i = 0; i < length; ++i) {
        if (taken == buffer.size()) {
            ok = false;
            break;
        }
        const auto p = static_cast<uint8_t>(buffer[taken++]);  // taken from the front
        const std::optional<uint8_t> k = stream.keyByte();
        if (!k || !stream.advance(p)) {
            ok = false;
            break;
        }
        scrambled.push_back(static_cast<char>(p ^ *k));
    }
    buffer.erase(0, taken);
    if (!ok) return false;

    {
        std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
        if (out) out.write(scrambled.data(), static_cast<std::streamsize>(scrambled.size()));
        if (out) out.close();
        if (!out.fail()) return true;
    }
    deleteIfPresent(fileName);
    return false;
}

bool unscrambleFromFile(const std::string& fileName, ByteArray& buffer, int16_t lastIndex,
                        std::string_view keyCodeText) {
    if (fileName.empty() || lastIndex < 0) return false;
    if (!ordinaryFileExists(fileName)) return false;

    const std::size_t count = static_cast<std::size_t>(lastIndex) + 1;
    std::vector<char> work(count, 0);
    {
        std::ifstream in(fileName, std::ios::binary);
        if (!in) return false;
        in.read(work.data(), static_cast<std::streamsize>(count));
        // A short file is fine (the rest stays 0); a read error is not.
        if (in.bad()) return false;
    }

    const std::optional<int16_t> keyCode = scrambleKeyCode(keyCodeText);
    if (!keyCode) return false;
    ScrambleStream stream(*keyCode, fileName);
    for (int32_t i = 0; i <= lastIndex; ++i) {
        const std::optional<uint8_t> k = stream.keyByte();
        if (!k) return false;
        if (i < buffer.lbound || i > buffer.ubound()) return false;
        const auto plain =
            static_cast<uint8_t>(static_cast<uint8_t>(work[static_cast<std::size_t>(i)]) ^ *k);
        buffer.at(i) = plain;
        if (!stream.advance(plain)) return false;
    }
    return true;
}

}  // namespace korvel::util
