#include "server/core/token_bucket.h"

#include <algorithm>

namespace vandry {

double TokenBucket::tokensAt(std::uint32_t nowMs) const
{
    // Unsigned difference: the tick wraps every 49 days.
    const std::uint32_t elapsedMs = nowMs - lastMs_;
    return std::min(limit_.burst, tokens_ + limit_.perSecond * elapsedMs / 1000.0);
}

bool TokenBucket::take(std::uint32_t nowMs, double count)
{
    tokens_ = tokensAt(nowMs);
    lastMs_ = nowMs;
    if (tokens_ < count)
        return false;
    tokens_ -= count;
    return true;
}

bool TokenBucket::full(std::uint32_t nowMs) const
{
    return tokensAt(nowMs) >= limit_.burst;
}

} // namespace vandry
