#pragma once
// Header bytes 8-11 hold an address in network byte order for most types, but a plain
// little-endian number in two places: the server index of a probe (type 0) and the identity tag
// of a server list (type 146). ControlDatagram::address always reads those bytes as an address;
// these convert between the two readings.

#include <cstdint>

#include "common/ipv4.h"

namespace vandry {

constexpr std::uint32_t numberFromAddressField(Ipv4 field)
{
    return (field >> 24) | ((field >> 8) & 0xFF00) | ((field << 8) & 0xFF0000) | (field << 24);
}

constexpr Ipv4 addressFieldFromNumber(std::uint32_t number)
{
    return numberFromAddressField(number);
}

static_assert(addressFieldFromNumber(2) == 0x02000000);

} // namespace vandry
