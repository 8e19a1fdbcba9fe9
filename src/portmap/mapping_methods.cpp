#include "portmap/mapping_methods.h"

namespace vandry {

std::optional<std::vector<MappingMethod>> parseMappingMethods(std::string_view name)
{
    if (name == "auto")
        return std::vector{MappingMethod::Upnp, MappingMethod::NatPmp};
    if (name == "upnp")
        return std::vector{MappingMethod::Upnp};
    if (name == "natpmp")
        return std::vector{MappingMethod::NatPmp};
    if (name == "off")
        return std::vector<MappingMethod>{};
    return std::nullopt;
}

std::string_view methodName(MappingMethod method)
{
    return method == MappingMethod::Upnp ? "UPnP" : "NAT-PMP";
}

std::string_view portKindName(MappedPort kind)
{
    return kind == MappedPort::Tcp ? "TCP" : "UDP";
}

} // namespace vandry
