// The small pure helpers behind the utility members, on their own: scrambling key codes and
// names, command-line splitting, the twips factor, directory answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/TempDir.h"
#include "util/Checksum.h"
#include "util/Scramble.h"
#include "util/SystemHelpers.h"

namespace korvel {
namespace {

using namespace util;
using S = std::string;

TEST(SmallHelpers, ScramblingAndFileChecksRefuseNoNameNoLengthOrAnUnreadableFileTouchingNothing) {
    const auto kept = test::ownTempDir("util") / "kept.bin";
    std::ofstream(kept) << "kept";
    S buffer = "data";
    EXPECT_FALSE(scrambleToFile("", buffer, 4, "1"));
    EXPECT_FALSE(scrambleToFile(kept.string(), buffer, 0, "1"));
    EXPECT_EQ(std::filesystem::file_size(kept), 4u) << "a refused call neither deletes nor writes";
    EXPECT_EQ(buffer, "data");

    // An ordinary file that cannot be opened (a write-only kernel setting, which even root
    // cannot read, or one of ours without permissions) is no file to check or unscramble.
    const auto locked = kept.parent_path() / "locked.bin";
    std::ofstream(locked) << "kept";
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    S unreadable;
    for (const auto& p : {std::filesystem::path("/proc/sys/vm/drop_caches"), locked})
        if (unreadable.empty() && std::filesystem::is_regular_file(p) && !std::ifstream(p))
            unreadable = p.string();
    if (unreadable.empty()) GTEST_SKIP() << "every ordinary file here can be read";
    int32_t from = 1, to = 4;
    EXPECT_FALSE(checkFile(CheckSpec{}, unreadable, from, to));
    ByteArray bytes = ByteArray::fromString("data");
    EXPECT_FALSE(unscrambleFromFile(unreadable, bytes, 3, "1"));
    EXPECT_EQ(bytes, ByteArray::fromString("data"));
    EXPECT_EQ(std::to_string(from) + std::to_string(to), "14");
}

TEST(SmallHelpers, KeyCodeCommandLinesAndTwipsFactor) {
    S codes;
    for (const char* text :
         {"27315", "  -12.5kg", "3.5", "2.5", "abc", "-32768", "32767.5", "99999999999999999999"})
        codes += scrambleKeyCode(text) ? std::to_string(*scrambleKeyCode(text)) + " " : "none ";
    EXPECT_EQ(codes, "27315 -12 4 2 0 -32768 none none ");
    EXPECT_EQ(scrambleBaseName("C:\\Data\\Mixed/Dir/File.BIN"), "file.bin");

    const auto split = [](auto splitter, std::vector<std::string_view> lines) {
        S out;
        for (auto line : lines) {
            for (const S& word : splitter(line))
                out += word + "|";
            out += "\n";
        }
        return out;
    };
    EXPECT_EQ(split(splitArguments, {" \t ", "\"two words\"", "1 2 3 4 5 6 7 8 9 10 11 12"}),
              "|\n|\"two|words\"|\n|1|2|3|4|5|6|7|8|9|10|\n");
    EXPECT_EQ(split(splitProgramCommandLine, {"  \"/opt/my tools/run\" -x\t'y z'",
                                              "a\"b c\"d \"\" e", "run \"unclosed x", " \t"}),
              "/opt/my tools/run|-x|'y|z'|\nab cd||e|\nrun|unclosed x|\n\n");
    S factors;
    for (double reported : {0.0, -3.0, 14.5})
        factors += std::to_string(twipsFactor(reported)) + " ";
    EXPECT_EQ(factors, "15 15 14 ");
    EXPECT_EQ(directoryAnswer("/" + S(254, 'd')) + directoryAnswer(S(254, 'd')), S(254, 'd'));
}

}  // namespace
}  // namespace korvel
