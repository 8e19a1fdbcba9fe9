#include "common/identity.h"

#include <cstdio>

#include "common/hex.h"

namespace vandry {

std::string identityText(const HostIdentity& id)
{
    const std::uint32_t first = id[0] | (id[1] << 8) | (id[2] << 16) | (std::uint32_t{id[3]} << 24);
    const unsigned second = id[4] | (id[5] << 8);
    const unsigned third = id[6] | (id[7] << 8);
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", first, second, third, id[8],
                  id[9], id[10], id[11], id[12], id[13], id[14], id[15]);
    return text;
}

std::optional<HostIdentity> identityFromText(std::string_view text)
{
    // Groups of the text form: bytes 0-3 (little-endian u32), 4-5 and 6-7 (little-endian u16s),
    // then bytes 8-15 in order.
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    std::string digits;
    for (char c : text)
        if (c != '-')
            digits.push_back(c);
    const auto bytes = hexDecode(digits, 16);
    if (!bytes)
        return std::nullopt;
    const auto& b = *bytes;
    return HostIdentity{b[3], b[2], b[1],  b[0],  b[5],  b[4],  b[7],  b[6],
                        b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
}

std::string identityHex(const HostIdentity& id)
{
    return hexEncode(id);
}

std::optional<HostIdentity> identityFromHex(std::string_view hex)
{
    auto bytes = hexDecode(hex, 16);
    if (!bytes)
        return std::nullopt;
    HostIdentity id{};
    std::copy(bytes->begin(), bytes->end(), id.begin());
    return id;
}

} // namespace vandry
