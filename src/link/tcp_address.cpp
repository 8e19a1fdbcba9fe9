#include "link/tcp_address.h"

namespace vandry {

std::optional<Endpoint> chooseTcpAddress(const NeighbourTable& table, const NeighbourRecord& neighbour)
{
    const HostRecord& host = neighbour.host;
    const auto address = table.chooseAddress(neighbour);
    const bool onPublicAddress = host.lanPrimary != 0 && host.lanPrimary == host.mapAddr;
    const bool sameTranslator = host.lanPrimary != 0 && host.mapAddr == table.local().host.mapAddr;
    // Only the router the server saw the neighbour behind: a record cannot send links elsewhere.
    const bool forwarded = host.agtAddr != 0 && host.agtPort != 0 && host.agtAddr == host.mapAddr;
    if (forwarded && !onPublicAddress && neighbour.directAddr == 0 && !sameTranslator)
        return Endpoint{host.agtAddr, host.agtPort};
    if (!address || host.portTcp == 0)
        return std::nullopt;
    return Endpoint{address->address, host.portTcp};
}

} // namespace vandry
