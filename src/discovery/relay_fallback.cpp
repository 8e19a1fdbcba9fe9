#include "discovery/relay_fallback.h"

namespace vandry {

RelayFallback::Route RelayFallback::indirectAttempt(const HostIdentity& peer, std::uint32_t nowMs)
{
    if (peers_.size() >= kMaxPeers && !peers_.contains(peer))
        forgetOld(nowMs);
    auto [it, fresh] = peers_.try_emplace(peer);
    Peer& p = it->second;
    // Unsigned differences: the tick wraps every 49 days.
    if (p.heardDirectly && nowMs - p.heardDirectlyMs < kDirectHoldMs) {
        p.lastAttemptMs = nowMs;
        return Route::Direct;
    }
    if (fresh || p.heardDirectly || nowMs - p.lastAttemptMs >= kForgetMs) {
        p = Peer{};
        p.firstAttemptMs = nowMs;
    }
    p.lastAttemptMs = nowMs;
    if (nowMs - p.firstAttemptMs < kDirectWaitMs)
        return Route::Direct;
    const bool first = !p.relayed;
    p.relayed = true;
    return first ? Route::RelayFromNow : Route::Relay;
}

void RelayFallback::heardDirectly(const HostIdentity& peer, std::uint32_t nowMs)
{
    const auto it = peers_.find(peer);
    if (it == peers_.end())
        return;
    it->second.heardDirectly = true;
    it->second.heardDirectlyMs = nowMs;
    it->second.relayed = false;
}

void RelayFallback::forgetOld(std::uint32_t nowMs)
{
    std::erase_if(peers_, [nowMs](const auto& entry) { return nowMs - entry.second.lastAttemptMs >= kDirectHoldMs; });
    if (peers_.size() >= kMaxPeers)
        peers_.erase(peers_.begin()); // a table full of live peers: one of them starts afresh
}

} // namespace vandry
