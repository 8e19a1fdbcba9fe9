#include "common/hex.h"

namespace vandry {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string hexEncode(ByteSpan bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::size_t n = bytes.size() < kMaxHexBytes ? bytes.size() : kMaxHexBytes;
    std::string out;
    out.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 0xF]);
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> hexDecode(std::string_view text, std::size_t count)
{
    if (text.size() < 2 * count)
        return std::nullopt;
    std::vector<std::uint8_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const int hi = hexDigitValue(text[2 * i]);
        const int lo = hexDigitValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return out;
}

} // namespace vandry
