#pragma once
// MD5 (RFC 1321), carried here so the core needs no crypto library. Used for file digests and
// the machine part of the host identity; not for anything that needs collision resistance.

#include <array>
#include <cstdint>

#include "common/bytes.h"

namespace vandry {

using Md5Digest = std::array<std::uint8_t, 16>;

class Md5 {
public:
    void update(ByteSpan data);
    // Pads, returns the digest and starts over, so one object can hash several messages.
    Md5Digest finish();

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 4> state_{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
    std::array<std::uint8_t, 64> pending_{};
    std::uint64_t length_ = 0; // bytes hashed so far
};

Md5Digest md5(ByteSpan data);

} // namespace vandry
