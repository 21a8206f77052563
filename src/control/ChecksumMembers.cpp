// The control's check, parity and digit-test members: thin wrappers of the pure utilities that
// apply the error convention.
#include "control/Guarded.h"
#include "korvelcom/KorvelComTools.h"
#include "util/Checksum.h"
#include "util/Parity.h"

namespace korvel {
namespace {

using util::CheckKind;
using util::CheckSpec;

// A utility reported a failure: the member's one failure path takes over (see `guarded`).
struct CheckFailed {};

int32_t valueOrFail(const std::optional<int32_t>& value) {
    if (!value) throw CheckFailed{};
    return *value;
}

CheckSpec lrc8(int16_t initial) {
    return {CheckKind::Lrc8, initial, 0};
}
CheckSpec crc16(int16_t initial, int16_t polynomial) {
    return {CheckKind::Crc16, initial, polynomial};
}
CheckSpec sum(int16_t initial) {
    return {CheckKind::Sum, initial, 0};
}

// The string forms' 16-bit position of the last character, for strings the append members
// accept.
int16_t lastPosition(const std::string& s) {
    if (s.size() > util::kMaxStringChars) throw CheckFailed{};
    return static_cast<int16_t>(s.size());
}

}  // namespace

// ---- LRC8 -----------------------------------------------------------------------------------

std::string KorvelComTools::addLRC8toString(const std::string& strPacket, int16_t initValue) {
    return guarded("errorHandleraddLRC8toString", std::string(), [&] {
        const int16_t end = lastPosition(strPacket);
        const int16_t value = cLRC8str(strPacket, 1, end, initValue);
        if (value < 0 || value > 255) throw CheckFailed{};
        return strPacket + static_cast<char>(value);
    });
}

int16_t KorvelComTools::cLRC8str(const std::string& strPacket, int16_t intStart, int16_t intEnd,
                                 int16_t intInitial) {
    return guarded("errorHandlercLRC8str", int16_t{0}, [&] {
        return static_cast<int16_t>(
            valueOrFail(util::checkString(lrc8(intInitial), strPacket, intStart, intEnd)));
    });
}

int16_t KorvelComTools::cLRC8file(const std::string& strFileName, int32_t& longStart,
                                  int32_t& longEnd, int16_t intInitial) {
    return guarded("errorHandlercLRC8file", int16_t{0}, [&] {
        return static_cast<int16_t>(
            valueOrFail(util::checkFile(lrc8(intInitial), strFileName, longStart, longEnd)));
    });
}

int16_t KorvelComTools::cLRC8file(const std::string& strFileName, int32_t& longStart) {
    int32_t end = util::kDefaultEnd;
    return cLRC8file(strFileName, longStart, end);
}

int16_t KorvelComTools::cLRC8file(const std::string& strFileName) {
    int32_t start = util::kFileDefaultStart;
    return cLRC8file(strFileName, start);
}

int16_t KorvelComTools::cLRC8buffer(const ByteArray& Buffer, int32_t& longStart, int32_t& longEnd,
                                    int16_t intInitial) {
    return guarded("errorHandlercLRC8buffer", int16_t{0}, [&] {
        return static_cast<int16_t>(
            valueOrFail(util::checkBuffer(lrc8(intInitial), Buffer, longStart, longEnd)));
    });
}

int16_t KorvelComTools::cLRC8buffer(const ByteArray& Buffer, int32_t& longStart) {
    int32_t end = util::kDefaultEnd;
    return cLRC8buffer(Buffer, longStart, end);
}

int16_t KorvelComTools::cLRC8buffer(const ByteArray& Buffer) {
    int32_t start = 0;
    return cLRC8buffer(Buffer, start);
}

// ---- CRC16 ----------------------------------------------------------------------------------

std::string KorvelComTools::addCRC16toString(const std::string& strPacket, int16_t initValue,
                                             int16_t Polynomial) {
    return guarded("errorHandleraddCRC16toString", std::string(), [&] {
        const int16_t end = lastPosition(strPacket);
        const int32_t value = cCRC16str(strPacket, 1, end, initValue, Polynomial);
        std::string out = strPacket;
        out += static_cast<char>(value % 256);
        out += static_cast<char>(value / 256);
        return out;
    });
}

int32_t KorvelComTools::cCRC16str(const std::string& strPacket, int16_t intStart, int16_t intEnd,
                                  int16_t intInitial, int16_t intPolynomial) {
    return guarded("errorHandlercCRC16str", int32_t{0}, [&] {
        return valueOrFail(
            util::checkString(crc16(intInitial, intPolynomial), strPacket, intStart, intEnd));
    });
}

int32_t KorvelComTools::cCRC16file(const std::string& strFileName, int32_t& longStart,
                                   int32_t& longEnd, int16_t intInitial, int16_t intPolynomial) {
    return guarded("errorHandlercCRC16file", int32_t{0}, [&] {
        return valueOrFail(
            util::checkFile(crc16(intInitial, intPolynomial), strFileName, longStart, longEnd));
    });
}

int32_t KorvelComTools::cCRC16file(const std::string& strFileName, int32_t& longStart) {
    int32_t end = util::kDefaultEnd;
    return cCRC16file(strFileName, longStart, end);
}

int32_t KorvelComTools::cCRC16file(const std::string& strFileName) {
    int32_t start = util::kFileDefaultStart;
    return cCRC16file(strFileName, start);
}

int32_t KorvelComTools::cCRC16buffer(const ByteArray& Buffer, int32_t& longStart, int32_t& longEnd,
                                     int16_t intInitial, int16_t intPolynomial) {
    return guarded("errorHandlercCRC16buffer", int32_t{0}, [&] {
        return valueOrFail(
            util::checkBuffer(crc16(intInitial, intPolynomial), Buffer, longStart, longEnd));
    });
}

int32_t KorvelComTools::cCRC16buffer(const ByteArray& Buffer, int32_t& longStart) {
    int32_t end = util::kDefaultEnd;
    return cCRC16buffer(Buffer, longStart, end);
}

int32_t KorvelComTools::cCRC16buffer(const ByteArray& Buffer) {
    int32_t start = 0;
    return cCRC16buffer(Buffer, start);
}

// ---- CHECKSUM -------------------------------------------------------------------------------

int16_t KorvelComTools::cCHECKSUMstr(const std::string& strPacket, int16_t intStart, int16_t intEnd,
                                     int16_t intInitial) {
    return guarded("errorHandlercCHECKSUMstr", int16_t{0}, [&] {
        return static_cast<int16_t>(
            valueOrFail(util::checkString(sum(intInitial), strPacket, intStart, intEnd)));
    });
}

int16_t KorvelComTools::cCHECKSUMfile(const std::string& strFileName, int32_t& longStart,
                                      int32_t& longEnd, int16_t intInitial) {
    return guarded("errorHandlercCHECKSUMfile", int16_t{0}, [&] {
        return static_cast<int16_t>(
            valueOrFail(util::checkFile(sum(intInitial), strFileName, longStart, longEnd)));
    });
}

int16_t KorvelComTools::cCHECKSUMfile(const std::string& strFileName, int32_t& longStart) {
    int32_t end = util::kDefaultEnd;
    return cCHECKSUMfile(strFileName, longStart, end);
}

int16_t KorvelComTools::cCHECKSUMfile(const std::string& strFileName) {
    int32_t start = util::kFileDefaultStart;
    return cCHECKSUMfile(strFileName, start);
}

int16_t KorvelComTools::cCHECKSUMbuffer(const ByteArray& Buffer, int32_t& longStart,
                                        int32_t& longEnd, int16_t intInitial) {
    return guarded("errorHandlercCHECKSUMbuffer", int16_t{0}, [&] {
        return static_cast<int16_t>(
            valueOrFail(util::checkBuffer(sum(intInitial), Buffer, longStart, longEnd)));
    });
}

int16_t KorvelComTools::cCHECKSUMbuffer(const ByteArray& Buffer, int32_t& longStart) {
    int32_t end = util::kDefaultEnd;
    return cCHECKSUMbuffer(Buffer, longStart, end);
}

int16_t KorvelComTools::cCHECKSUMbuffer(const ByteArray& Buffer) {
    int32_t start = 0;
    return cCHECKSUMbuffer(Buffer, start);
}

// ---- Digit tests and parity -------------------------------------------------------------------

bool KorvelComTools::TestStrHexa(const std::string& str) const {
    return util::testStrHexa(str);
}

bool KorvelComTools::TestStrDec(const std::string& str) const {
    return util::testStrDec(str);
}

std::string KorvelComTools::AddParityString(const std::string& str) const {
    return util::addParityString(str);
}

std::string KorvelComTools::SupParityString(const std::string& str) const {
    return util::supParityString(str);
}

}  // namespace korvel
