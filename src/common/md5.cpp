#include "common/md5.h"

#include <algorithm>
#include <cstring>

namespace vandry {

namespace {

// floor(abs(sin(i + 1)) * 2^32), RFC 1321 section 3.4.
constexpr std::uint32_t kSine[64] = {
    0xD76AA478, 0xE8C7B756, 0x242070DB, 0xC1BDCEEE, 0xF57C0FAF, 0x4787C62A, 0xA8304613, 0xFD469501,
    0x698098D8, 0x8B44F7AF, 0xFFFF5BB1, 0x895CD7BE, 0x6B901122, 0xFD987193, 0xA679438E, 0x49B40821,
    0xF61E2562, 0xC040B340, 0x265E5A51, 0xE9B6C7AA, 0xD62F105D, 0x02441453, 0xD8A1E681, 0xE7D3FBC8,
    0x21E1CDE6, 0xC33707D6, 0xF4D50D87, 0x455A14ED, 0xA9E3E905, 0xFCEFA3F8, 0x676F02D9, 0x8D2A4C8A,
    0xFFFA3942, 0x8771F681, 0x6D9D6122, 0xFDE5380C, 0xA4BEEA44, 0x4BDECFA9, 0xF6BB4B60, 0xBEBFBC70,
    0x289B7EC6, 0xEAA127FA, 0xD4EF3085, 0x04881D05, 0xD9D4D039, 0xE6DB99E5, 0x1FA27CF8, 0xC4AC5665,
    0xF4292244, 0x432AFF97, 0xAB9423A7, 0xFC93A039, 0x655B59C3, 0x8F0CCC92, 0xFFEFF47D, 0x85845DD1,
    0x6FA87E4F, 0xFE2CE6E0, 0xA3014314, 0x4E0811A1, 0xF7537E82, 0xBD3AF235, 0x2AD7D2BB, 0xEB86D391,
};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr std::uint32_t rotateLeft(std::uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

} // namespace

void Md5::update(ByteSpan data)
{
    std::size_t used = static_cast<std::size_t>(length_ % 64);
    length_ += data.size();
    std::size_t i = 0;
    if (used > 0) {
        const std::size_t take = std::min(data.size(), 64 - used);
        std::memcpy(pending_.data() + used, data.data(), take);
        i = take;
        if (used + take < 64)
            return;
        compress(pending_.data());
    }
    for (; data.size() - i >= 64; i += 64)
        compress(data.data() + i);
    if (i < data.size())
        std::memcpy(pending_.data(), data.data() + i, data.size() - i);
}

Md5Digest Md5::finish()
{
    const std::uint64_t bitLength = length_ * 8;
    const std::size_t used = static_cast<std::size_t>(length_ % 64);
    // A 0x80 marker, zeros up to 56 mod 64, then the message length in bits, little-endian.
    std::array<std::uint8_t, 72> tail{};
    tail[0] = 0x80;
    const std::size_t padding = used < 56 ? 56 - used : 120 - used;
    for (int i = 0; i < 8; ++i)
        tail[padding + i] = static_cast<std::uint8_t>(bitLength >> (8 * i));
    update(ByteSpan(tail.data(), padding + 8));

    Md5Digest digest{};
    for (int word = 0; word < 4; ++word)
        for (int i = 0; i < 4; ++i)
            digest[4 * word + i] = static_cast<std::uint8_t>(state_[word] >> (8 * i));
    *this = Md5{};
    return digest;
}

void Md5::compress(const std::uint8_t* block)
{
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = std::uint32_t{block[4 * i]} | (std::uint32_t{block[4 * i + 1]} << 8) |
               (std::uint32_t{block[4 * i + 2]} << 16) | (std::uint32_t{block[4 * i + 3]} << 24);

    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        std::uint32_t f;
        int g;
        switch (round) {
        case 0:
            f = (b & c) | (~b & d);
            g = i;
            break;
        case 1:
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
            break;
        }
        const std::uint32_t rotated = rotateLeft(a + f + kSine[i] + m[g], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b += rotated;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

Md5Digest md5(ByteSpan data)
{
    Md5 hash;
    hash.update(data);
    return hash.finish();
}

} // namespace vandry
