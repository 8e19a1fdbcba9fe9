#pragma once
// A token bucket on the millisecond tick: `perSecond` tokens flow in, at most `burst` are held.

#include <cstdint>

namespace vandry {

struct RateLimit {
    double perSecond = 1;
    double burst = 1;
};

class TokenBucket {
public:
    TokenBucket(RateLimit limit, std::uint32_t nowMs) : limit_(limit), tokens_(limit.burst), lastMs_(nowMs) {}

    // Takes `count` tokens if that many are there; otherwise takes none.
    bool take(std::uint32_t nowMs, double count = 1);
    // True when the bucket has refilled to its burst, i.e. forgetting it loses nothing.
    bool full(std::uint32_t nowMs) const;

private:
    double tokensAt(std::uint32_t nowMs) const;

    RateLimit limit_;
    double tokens_;
    std::uint32_t lastMs_;
};

} // namespace vandry
