// The pure parts of the system helpers: splitting command lines, twips and pixel arithmetic,
// and the shape of directory answers.  The services themselves (directories, processes,
// screen) come from the platform's `SystemServices`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::util {

/// Most arguments `splitArguments` collects.
inline constexpr int kMaxCommandArguments = 10;
/// Twips per pixel used when the screen's factor is unknown (96 pixels per inch).
inline constexpr int kDefaultTwipsPerPixel = 15;
/// Longest directory answer: what fits a 255-character buffer with its terminator.
inline constexpr std::size_t kMaxDirectoryChars = 254;

/// Splits the arguments text of a command line (what follows the program's name) the way the
/// control's `GetCommandLine` returns it: element 0 is empty and elements 1 to count hold the
/// arguments.  Spaces and tabs separate arguments; every other character, quotation marks
/// included, belongs to an argument (a quoted text with a space is split there).  At most
/// `kMaxCommandArguments` arguments are collected; the walk stops where an eleventh would
/// begin.  An empty or blank text gives the single empty element 0.
std::vector<std::string> splitArguments(std::string_view arguments);

/// Splits a command line into the program and its arguments for starting it without a shell:
/// words are separated by spaces and tabs; a part in double quotation marks keeps its spaces
/// and tabs and loses the marks ("\"/opt/my tools/run\" -x" gives "/opt/my tools/run" and
/// "-x"; "a\"b c\"d" gives "ab cd"); an unclosed mark runs to the end.  No other character
/// is special: no variables, patterns, redirections or escapes.  Empty when there is no word.
std::vector<std::string> splitProgramCommandLine(std::string_view commandLine);

/// The whole-number factor to use for a reported twips-per-pixel factor: the factor rounded to
/// the nearest whole number (ties to even); `kDefaultTwipsPerPixel` when the report is 0,
/// negative or not a number (no screen known).  May be 0 for a factor below 0.5.
int twipsFactor(double reported);

/// Twips to pixels in place: `value` / `factor` rounded to the nearest whole number, ties to
/// even (15 twips a pixel: 1000 gives 67, 22 gives 1).  A factor of 0 leaves `value` as it is.
void twipsToPixels(int16_t& value, int factor);

/// Pixels to twips in place: `value` * `factor` when the product fits a signed 16-bit integer;
/// otherwise `value` is left as it is (15 twips a pixel: 100 gives 1500, 3000 stays 3000).
void pixelsToTwips(int16_t& value, int factor);

/// A directory as the directory helpers answer it: without trailing separators (except for
/// the root "/" itself), and empty when it is empty or longer than `kMaxDirectoryChars`.
std::string directoryAnswer(std::string_view path);

}  // namespace korvel::util
