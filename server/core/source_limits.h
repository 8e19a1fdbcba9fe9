#pragma once
// What one source address may ask of the server, as token buckets per address: announces, full
// lists, relayed packets and the short refusals sent back when one of those is over its limit. The
// defaults leave room for a household of dozens of copies behind one translator, all starting at
// once, and stop one address from drawing megabytes of lists a second.
//
// Forged source addresses each get an entry, so the table is bounded: past `maxSources` the idle
// entries are dropped, and if none is idle the newcomer is refused.

#include <cstddef>
#include <cstdint>
#include <map>

#include "common/ipv4.h"
#include "server/core/token_bucket.h"

namespace vandry {

struct SourceLimitSettings {
    RateLimit announces{5, 100};
    RateLimit lists{2, 100};
    RateLimit relays{20, 200};
    RateLimit refusals{1, 5};
    std::size_t identitiesPerAddress = 64;
    std::size_t maxSources = 1 << 20;
};

enum class SourceBudget { Announce, List, Relay, Refusal };

class SourceLimits {
public:
    explicit SourceLimits(SourceLimitSettings settings) : settings_(settings) {}

    bool allow(Ipv4 source, SourceBudget budget, std::uint32_t nowMs);
    // Drops the addresses whose buckets have all refilled.
    void forgetIdle(std::uint32_t nowMs);
    std::size_t size() const { return sources_.size(); }
    const SourceLimitSettings& settings() const { return settings_; }

private:
    struct Buckets {
        TokenBucket announces, lists, relays, refusals;
        TokenBucket& of(SourceBudget budget);
        bool idle(std::uint32_t nowMs) const;
    };

    SourceLimitSettings settings_;
    std::map<Ipv4, Buckets> sources_;
};

} // namespace vandry
