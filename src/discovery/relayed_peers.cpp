#include "discovery/relayed_peers.h"

namespace vandry {

std::optional<Endpoint> RelayedPeers::standInFor(const HostIdentity& peer)
{
    std::lock_guard lock(mutex_);
    if (const auto it = addresses_.find(peer); it != addresses_.end())
        return Endpoint{it->second, kStandInPort};
    if (peers_.size() >= kMaxPeers)
        return std::nullopt;
    peers_.push_back(peer);
    const auto address = static_cast<Ipv4>(peers_.size());
    addresses_.emplace(peer, address);
    return Endpoint{address, kStandInPort};
}

std::optional<HostIdentity> RelayedPeers::peerAt(Endpoint standIn) const
{
    if (!isStandIn(standIn))
        return std::nullopt;
    std::lock_guard lock(mutex_);
    if (standIn.address > peers_.size())
        return std::nullopt;
    return peers_[standIn.address - 1];
}

void RelayedPeers::setRoute(Route route)
{
    std::lock_guard lock(mutex_);
    route_ = route;
}

std::optional<RelayedPeers::Route> RelayedPeers::route() const
{
    std::lock_guard lock(mutex_);
    return route_;
}

} // namespace vandry
