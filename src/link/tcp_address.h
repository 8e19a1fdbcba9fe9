#pragma once
// Where a link opens TCP to a neighbour. The neighbour table's address choice is made for
// datagrams; a link uses the same address with the neighbour's TCP port, except when the
// neighbour sits behind a router that forwards a port to its listener (its record's agent
// address and port) and no path inside a LAN or to its own public address exists: then the
// router's forwarded port is the one that accepts a connection from outside. The forwarded port
// counts only on the address the server saw the neighbour at, so that a record cannot point
// links at a host of its choosing.

#include <optional>

#include "common/ipv4.h"
#include "discovery/neighbour_table.h"

namespace vandry {

std::optional<Endpoint> chooseTcpAddress(const NeighbourTable& table, const NeighbourRecord& neighbour);

} // namespace vandry
