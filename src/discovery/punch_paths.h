#pragma once
// How the datagram transport reaches a neighbour without a usable address: through a path the
// discovery endpoint punches through the translators, and only when a datagram to the
// neighbour's mapped endpoint cannot spoil the punch. Main thread only.

#include <optional>

#include "common/ipv4.h"
#include "discovery/host_record.h"
#include "discovery/punch_schedule.h"

namespace vandry {

class PunchPaths {
public:
    virtual ~PunchPaths() = default;
    // Where datagrams to `neighbour` go straight now: the neighbour table's choice, else a
    // punched path. nullopt: none yet.
    virtual std::optional<Endpoint> directPath(const NeighbourRecord& neighbour) = 0;
    // There is no direct path and one is needed (`role` says who started). True when a datagram
    // may go to the neighbour's mapped endpoint now; it then counts as sent.
    virtual bool mayReachMapped(const NeighbourRecord& neighbour, PunchRole role) = 0;
};

} // namespace vandry
