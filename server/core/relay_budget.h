#pragma once
// What the server spends on carrying datagrams between copies that cannot reach each other: per
// sending copy a byte and a packet budget, and one byte budget for the whole server, so that a few
// relayed downloads cannot take the bandwidth the rendezvous itself needs.
//
// Only verified copies get an entry, so the map is bounded by the copy table; entries whose buckets
// have refilled are dropped by forgetIdle().

#include <cstddef>
#include <cstdint>
#include <map>

#include "common/identity.h"
#include "server/core/token_bucket.h"

namespace vandry {

struct RelaySettings {
    RateLimit copyBytes{2048.0 * 1024, 2048.0 * 1024};    // per sending copy
    RateLimit copyPackets{4000, 4000};                    // per sending copy
    RateLimit totalBytes{16384.0 * 1024, 16384.0 * 1024}; // the whole server
};

class RelayBudget {
public:
    RelayBudget(RelaySettings settings, std::uint32_t nowMs);

    // Takes one packet of `bytes` from the sender's budgets, then the total; false when one is short.
    // What the earlier budgets gave stays spent, so a sender pushing against the cap slows down too.
    bool take(const HostIdentity& sender, std::size_t bytes, std::uint32_t nowMs);
    void forgetIdle(std::uint32_t nowMs);
    std::size_t senders() const { return senders_.size(); }

private:
    struct SenderBuckets {
        TokenBucket bytes, packets;
    };

    RelaySettings settings_;
    TokenBucket total_;
    std::map<HostIdentity, SenderBuckets> senders_;
};

} // namespace vandry
