#pragma once
// Reader of Linux's /proc/net/route, the kernel's IPv4 main route table:
//
//   Iface  Destination  Gateway   Flags  RefCnt  Use  Metric  Mask      MTU  Window  IRTT
//   eth0   00000000     0100A8C0  0003   0       0    100     00000000  0    0       0
//
// one row per line, fields separated by blanks or tabs. Destination, Gateway and Mask are the
// network-order address words as the machine holds them in memory, printed with %08X (so on a
// little-endian machine "0100A8C0" is 192.168.0.1); Metric is decimal. The header, and any line
// that does not read as a row, is skipped.

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/network_platform.h"

namespace vandry {

using InterfaceIndexMap = std::map<std::string, std::uint32_t, std::less<>>;

// Rows whose interface name is not in `indexes` (such as the "*" of unreachable routes) are
// left out, since no adapter could match them.
std::vector<RouteRow> parseProcNetRoute(std::string_view text, const InterfaceIndexMap& indexes);

// Linux keeps no gateway setting per adapter; the next hop of the adapter's first default route
// stands in for it. 0 when the adapter has none.
Ipv4 defaultGatewayOf(std::span<const RouteRow> routes, std::uint32_t interfaceIndex);

} // namespace vandry
