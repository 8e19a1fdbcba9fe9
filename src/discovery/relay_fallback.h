#pragma once
// When to carry a neighbour's traffic through the server's relay. A neighbour with no confirmed
// direct address is first tried the ordinary ways (punch probes, a request the server forwards, a
// reliable-transport call through the server); only when those have gone on for kDirectWaitMs
// without the neighbour being heard directly does its traffic go through the relay. Direct paths
// are still tried meanwhile, and a neighbour heard directly leaves the relay for kDirectHoldMs.

#include <cstddef>
#include <cstdint>
#include <map>

#include "common/identity.h"

namespace vandry {

class RelayFallback {
public:
    static constexpr std::uint32_t kDirectWaitMs = 3000;
    static constexpr std::uint32_t kDirectHoldMs = 60'000;
    static constexpr std::uint32_t kForgetMs = 600'000;
    static constexpr std::size_t kMaxPeers = 4096;

    enum class Route { Direct, RelayFromNow, Relay };

    // Something went to `peer` without a confirmed direct address: which way it should also take.
    // RelayFromNow the first time the relay is chosen after a spell without it.
    Route indirectAttempt(const HostIdentity& peer, std::uint32_t nowMs);
    // `peer` answered from its own address, so a direct path works.
    void heardDirectly(const HostIdentity& peer, std::uint32_t nowMs);
    std::size_t peers() const { return peers_.size(); }

private:
    struct Peer {
        std::uint32_t firstAttemptMs = 0; // of the current spell of indirect attempts
        std::uint32_t lastAttemptMs = 0;
        std::uint32_t heardDirectlyMs = 0;
        bool heardDirectly = false;
        bool relayed = false;
    };

    void forgetOld(std::uint32_t nowMs);

    std::map<HostIdentity, Peer> peers_;
};

} // namespace vandry
