#pragma once
// Neighbours reached through the best server's relay, each under a stand-in endpoint in 0.0.0.0/8
// (an address no datagram can come from), so that the datagram transport keeps a relayed
// connection like any other: its packets to a stand-in go to the server in an envelope, and
// envelopes from that neighbour come in as packets from its stand-in.
//
// Threads: the transport's worker sends through stand-ins while the main thread adds them and
// changes the route; one lock guards the table.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "common/identity.h"
#include "common/ipv4.h"

namespace vandry {

class RelayedPeers {
public:
    static constexpr std::uint16_t kStandInPort = 1;
    static constexpr std::size_t kMaxPeers = 4096;

    static bool isStandIn(Endpoint endpoint)
    {
        return endpoint.address != 0 && endpoint.address < (1u << 24) && endpoint.port == kStandInPort;
    }

    // The same stand-in every time for one neighbour; nullopt once kMaxPeers are held.
    std::optional<Endpoint> standInFor(const HostIdentity& peer);
    std::optional<HostIdentity> peerAt(Endpoint standIn) const;

    // Who this copy is and which server carries its envelopes; nothing is relayed before.
    struct Route {
        HostIdentity self{};
        Endpoint server;
    };
    void setRoute(Route route);
    std::optional<Route> route() const;

private:
    mutable std::mutex mutex_;
    std::map<HostIdentity, Ipv4> addresses_;
    std::vector<HostIdentity> peers_; // peer n has address n + 1
    std::optional<Route> route_;
};

} // namespace vandry
