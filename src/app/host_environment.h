#pragma once
// The local record's machine-derived fields and the polling for network changes. The main window
// builds the record at start-up, takes a snapshot with networkChanged(snapshotOnly = true), then
// polls networkChanged(false) and rebuilds the record whenever it answers true.

#include <cstdint>
#include <string_view>

#include "app/app_settings.h"
#include "app/network_platform.h"
#include "discovery/host_record.h"

namespace vandry {

// The local record's last-seen time, in 2033, so that it never counts as stale.
inline constexpr std::uint32_t kLocalRecordLastSeen = 0x7841479C;

// The primary address from the system's current route table and adapter list; 0 when none.
Ipv4 primaryAddress(const NetworkPlatform& network);

// True when some adapter has an IPv4 address.
bool hasConfiguredAdapter(const NetworkPlatform& network);

// Rewrites the local record (slot 0 of the neighbour table) and the InterfaceRoute table:
// identity, the primary and secondary LAN addresses and the nickname. The two ports survive;
// the mapped and agent fields are cleared until the next server reply. An empty
// `profileNickname` gives "<host name>.vandry"; either way the nickname is cut to 15 bytes.
void buildLocalRecord(NeighbourRecord& localSlot, AppSettings& settings, const NetworkPlatform& network,
                      const HostPlatform& host, std::string_view profileNickname);

// Compares the system's IP statistics and, when only the routes changed, the gateways of the
// InterfaceRoute entries with what was last seen. With `snapshotOnly`, records the statistics
// and answers false. While no adapter has an address the change is not acknowledged, so the
// next poll sees it again.
bool networkChanged(AppSettings& settings, const NetworkPlatform& network, bool snapshotOnly);

} // namespace vandry
