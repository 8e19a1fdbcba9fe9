#pragma once
// LZW of the compressed record lists that rendezvous servers send.
//
// Codes are packed most significant bit first. Codes 0-255 are literal bytes, 256 resets the
// dictionary, 257 ends the data, and the first free code is 258. Codes start 9 bits wide.
//
// Widening, seen from the decoder: every code other than 256, 257 and the first code after the
// start or a reset adds one dictionary entry. If the next free code then equals 2^width - 1 and
// the width is below 14, the following code is one bit wider ("early change": 511 -> 10 bits,
// 1023 -> 11 bits, ..., 8191 -> 14 bits). The encoder mirrors the decoder's count rather than its
// own dictionary, which runs one entry ahead, so both always agree. A code equal to the next free
// code is the "KwKwK" case: the previous string plus its own first byte.
//
// The dictionary holds codes up to 16383. The encoder emits a reset as soon as its dictionary is
// full. The decoder stops adding entries when full and keeps decoding 14-bit codes until a reset.
// A stream need not begin with a reset; the encoder writes none there.
//
// Corrupt input: a code above the next free code, a code above 255 as the first code (after the
// start or a reset), or a stream that ends before code 257 (a truncated datagram is not accepted
// in part). Bits after code 257 are padding and ignored.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bytes.h"

namespace vandry {

enum class LzwStatus { Ok, Corrupt, Overflow };

struct LzwResult {
    LzwStatus status = LzwStatus::Ok;
    std::vector<std::uint8_t> bytes; // empty unless status is Ok
};

// Decodes at most `capacity` bytes; more is Overflow, and nothing beyond is produced.
LzwResult lzwDecode(ByteSpan input, std::size_t capacity);
std::vector<std::uint8_t> lzwEncode(ByteSpan input);

} // namespace vandry
