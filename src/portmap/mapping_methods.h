#pragma once
// The mapping methods by name: "auto" tries UPnP-IGD, then NAT-PMP; "upnp" or "natpmp" limits a
// copy to one of them (a router that answers both but maps badly with one); "off" maps nothing.

#include <optional>
#include <string_view>
#include <vector>

#include "portmap/port_gateway.h"

namespace vandry {

inline constexpr std::string_view kDefaultMappingMethods = "auto";

// nullopt for an unknown name; an empty list for "off".
std::optional<std::vector<MappingMethod>> parseMappingMethods(std::string_view name);

} // namespace vandry
