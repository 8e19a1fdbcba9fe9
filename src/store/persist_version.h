#pragma once
// The version line every file the program keeps for itself begins with: "V%d\r\n".
//
// Reading takes at most 1023 bytes up to the first line feed; the text after the first character
// is read as a decimal number (its leading digits; none reads as 0), and the file is accepted when
// that number is at least the version the reader expects. The first character itself is not
// checked, so "X1" passes as version 1. No line feed within those bytes rejects the whole file.

#include <cstddef>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace vandry {

// The format version every persistence file is written with.
inline constexpr int kPersistVersion = 1;
inline constexpr std::size_t kMaxVersionLine = 1023;

void writeVersionLine(std::ostream& out, int version);
void writeVersionLine(std::string& out, int version);

// Consumes the version line from `in` (up to and including its line feed).
bool checkVersionLine(std::istream& in, int expected);
// The offset just past the line feed when `text` starts with an accepted version line.
std::optional<std::size_t> checkVersionLine(std::string_view text, int expected);

} // namespace vandry
