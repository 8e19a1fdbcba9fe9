#pragma once
// Expansion of a received datagram whose payload is LZW-compressed (header byte 6 = 1). The first
// N payload bytes (N = header byte 7) travel uncompressed; the rest is one LZW stream.

#include <cstddef>
#include <vector>

#include "discovery/lzw.h"

namespace vandry {

// Replaces `datagram` by header, plain prefix and expanded data, with the length field set to
// 12 + N + expanded size and byte 6 cleared, so that it reads as an ordinary datagram from then on.
// The result may not exceed `capacity` nor 65535 bytes. A datagram without the compressed flag is
// left as it is. On failure (Corrupt: no whole header, N beyond the payload or a bad stream;
// Overflow: too large) the datagram is left unchanged.
LzwStatus expandCompressedDatagram(std::vector<std::uint8_t>& datagram, std::size_t capacity);

} // namespace vandry
