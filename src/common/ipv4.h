#pragma once
// IPv4 addresses are kept as host-order numbers (10.0.0.1 == 0x0A000001) and
// converted to network byte order only by the wire codecs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vandry {

using Ipv4 = std::uint32_t;

// Dotted text, "0.0.0.0" for 0.
std::string ipv4ToText(Ipv4 address);
// Strict dotted-quad reader: four decimal parts 0..255, nothing else.
std::optional<Ipv4> ipv4FromText(std::string_view text);

struct Endpoint {
    Ipv4 address = 0;
    std::uint16_t port = 0;
    bool operator==(const Endpoint&) const = default;
};

} // namespace vandry
