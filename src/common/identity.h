#pragma once
// 16-byte identities: a copy's HostIdentity and the task identities, which share its text form.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vandry {

using HostIdentity = std::array<std::uint8_t, 16>;

// "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X": bytes 0-3 as one little-endian u32,
// bytes 4-5 and 6-7 as little-endian u16s, then bytes 8-15 one by one.
std::string identityText(const HostIdentity& id);
// Reads the text form back; nullopt unless it is exactly that form (hex digits of either case).
std::optional<HostIdentity> identityFromText(std::string_view text);

// The 32 lower-case hex digits by which the neighbour list keys its rows.
std::string identityHex(const HostIdentity& id);
std::optional<HostIdentity> identityFromHex(std::string_view hex);

inline bool isZero(const HostIdentity& id)
{
    for (auto b : id)
        if (b != 0)
            return false;
    return true;
}

} // namespace vandry
