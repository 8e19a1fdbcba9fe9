#pragma once
// The hexadecimal codec: every byte as two lower-case digits; read back pair by pair.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace vandry {

// The value of one hexadecimal digit of either case, or -1.
int hexDigitValue(char c);

// Encodes at most kMaxHexBytes bytes; anything beyond is not written.
inline constexpr std::size_t kMaxHexBytes = 1023;
std::string hexEncode(ByteSpan bytes);
// Decodes `count` bytes from the first 2*count digits; fails on a non-digit or a short text.
std::optional<std::vector<std::uint8_t>> hexDecode(std::string_view text, std::size_t count);

} // namespace vandry
