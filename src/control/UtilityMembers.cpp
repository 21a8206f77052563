// The control's conversion, file-scrambling and system-helper members: thin wrappers of the
// pure utilities and of the platform's system services.  Conversions and system helpers skip
// a failing step and go on; the scrambling members answer false, except for the argument
// errors that make the call itself fail.
#include <stdexcept>

#include "control/Guarded.h"
#include "korvelcom/KorvelComTools.h"
#include "util/Conversions.h"
#include "util/Scramble.h"
#include "util/SystemHelpers.h"

namespace korvel {
namespace {

using util::PackBase;
using util::UnpackFormat;

// Runs `step`; a failure (in practice only running out of memory) skips it.
template <class F>
void skipOnFailure(F&& step) noexcept {
    try {
        step();
    } catch (...) {
        // The step is skipped; the member goes on with the next one.
    }
}

std::string pack(const std::string& text, int16_t& start, int16_t& end, int groupSize,
                 PackBase base) {
    std::string result;
    skipOnFailure([&] { result = util::packGroups(text, start, end, groupSize, base); });
    return result;
}

std::string unpack(const std::string& text, int16_t& start, int16_t& end, UnpackFormat format) {
    std::string result;
    skipOnFailure([&] { result = util::unpackCodes(text, start, end, format); });
    return result;
}

constexpr UnpackFormat kDec2{false, 2};
constexpr UnpackFormat kDec3{false, 3};
constexpr UnpackFormat kHex2{true, 2};

}  // namespace

// ---- Conversions ----------------------------------------------------------------------------

int32_t KorvelComTools::ConvertStrhToDec(const std::string& strToConvert) const {
    return util::hexTextValue(strToConvert);
}

int32_t KorvelComTools::ConvertStrdToDec(const std::string& strToConvert) const {
    return util::decimalTextValue(strToConvert);
}

// Each packer and unpacker with its two shorter overloads, which take the default range.
#define KORVEL_RANGE_MEMBER(Name, Body)                                                       \
    std::string KorvelComTools::Name(const std::string& strPacket, int16_t& intStart,         \
                                     int16_t& intEnd) const {                                 \
        return Body;                                                                          \
    }                                                                                         \
    std::string KorvelComTools::Name(const std::string& strPacket, int16_t& intStart) const { \
        int16_t intEnd = util::kRangeDefaultEnd;                                              \
        return Name(strPacket, intStart, intEnd);                                             \
    }                                                                                         \
    std::string KorvelComTools::Name(const std::string& strPacket) const {                    \
        int16_t intStart = util::kRangeDefaultStart;                                          \
        return Name(strPacket, intStart);                                                     \
    }

KORVEL_RANGE_MEMBER(cStr1DtoDec, pack(strPacket, intStart, intEnd, 1, PackBase::Decimal))
KORVEL_RANGE_MEMBER(cStr2DtoDec, pack(strPacket, intStart, intEnd, 2, PackBase::Decimal))
KORVEL_RANGE_MEMBER(cStr3DtoDec, pack(strPacket, intStart, intEnd, 3, PackBase::Decimal))
KORVEL_RANGE_MEMBER(cStr1HtoDec, pack(strPacket, intStart, intEnd, 1, PackBase::Hex))
KORVEL_RANGE_MEMBER(cStr2HtoDec, pack(strPacket, intStart, intEnd, 2, PackBase::Hex))
KORVEL_RANGE_MEMBER(c2DecToAsc, unpack(strPacket, intStart, intEnd, kDec2))
KORVEL_RANGE_MEMBER(c3DecToAsc, unpack(strPacket, intStart, intEnd, kDec3))
KORVEL_RANGE_MEMBER(c2HexToAsc, unpack(strPacket, intStart, intEnd, kHex2))

#undef KORVEL_RANGE_MEMBER

// ---- File scrambling ------------------------------------------------------------------------

namespace {

std::string keyCodeText(Platform& platform) {
    return platform.settings().get(util::kScrambleApplication, util::kScrambleSection,
                                   util::kScrambleKey, util::kScrambleDefaultCode);
}

}  // namespace

bool KorvelComTools::EncryptFile(const std::string& strFileName, std::string& strBuffer,
                                 int16_t intLength) {
    // Argument errors fail the call itself, before anything is touched.
    if (strFileName.empty()) throw std::out_of_range("EncryptFile: empty file name");
    if (intLength < 1) throw std::out_of_range("EncryptFile: length below 1");
    try {
        return util::scrambleToFile(strFileName, strBuffer, intLength, keyCodeText(platform_));
    } catch (...) {
        return false;
    }
}

bool KorvelComTools::DecryptFile(const std::string& strFileName, ByteArray& byteBuffer,
                                 int16_t intLength) {
    if (strFileName.empty()) throw std::out_of_range("DecryptFile: empty file name");
    if (intLength < 0) throw std::out_of_range("DecryptFile: last index below 0");
    try {
        return util::unscrambleFromFile(strFileName, byteBuffer, intLength, keyCodeText(platform_));
    } catch (...) {
        return false;
    }
}

// ---- System helpers -------------------------------------------------------------------------

std::string KorvelComTools::WinDir() {
    std::string dir;
    ignoreFailure([&] { dir = util::directoryAnswer(platform_.system().windowsDirectory()); });
    return dir;
}

std::string KorvelComTools::WinSysDir() {
    std::string dir;
    ignoreFailure([&] { dir = util::directoryAnswer(platform_.system().systemDirectory()); });
    return dir;
}

void KorvelComTools::TwipsToPixel(int16_t& intXvalue, int16_t& intYvalue) {
    SystemServices& sys = platform_.system();
    ignoreFailure([&] { util::twipsToPixels(intXvalue, util::twipsFactor(sys.twipsPerPixelX())); });
    ignoreFailure([&] { util::twipsToPixels(intYvalue, util::twipsFactor(sys.twipsPerPixelY())); });
}

void KorvelComTools::PixelToTwips(int16_t& intXvalue, int16_t& intYvalue) {
    SystemServices& sys = platform_.system();
    ignoreFailure([&] { util::pixelsToTwips(intXvalue, util::twipsFactor(sys.twipsPerPixelX())); });
    ignoreFailure([&] { util::pixelsToTwips(intYvalue, util::twipsFactor(sys.twipsPerPixelY())); });
}

int32_t KorvelComTools::IsActive(int32_t hprog) {
    bool running = false;
    ignoreFailure([&] { running = platform_.system().processRunning(hprog); });
    return running ? -1 : 0;
}

void KorvelComTools::SuspendActivateExe(const std::string& strNameExe) {
    SystemServices& sys = platform_.system();
    HostLoop& loop = platform_.loop();
    std::optional<int32_t> pid;
    ignoreFailure([&] { pid = sys.startProcess(util::splitProgramCommandLine(strNameExe)); });
    if (!pid) return;
    // Poll without delay; every pass yields to the host loop, so its events keep flowing.
    bool escaped = false;
    while (IsActive(*pid) != 0) {
        ignoreFailure([&] { loop.yield(); });
        bool escapeDown = false;
        ignoreFailure([&] { escapeDown = loop.escapeDown(); });
        if (escapeDown && st_.EscapeKeyEnabled) {
            escaped = true;
            break;
        }
    }
    // After Escape the host gets control back at once and the program keeps running; the
    // unlimited wait would otherwise hold it until the program ends.
    if (!escaped) ignoreFailure([&] { sys.waitForProcessEnd(*pid); });
}

std::vector<std::string> KorvelComTools::GetCommandLine(std::vector<std::string>& ArgArray) {
    std::string arguments;
    ignoreFailure([&] { arguments = platform_.system().commandLineArguments(); });
    ignoreFailure([&] { ArgArray = util::splitArguments(arguments); });
    std::vector<std::string> copy;
    ignoreFailure([&] { copy = ArgArray; });
    return copy;
}

}  // namespace korvel
