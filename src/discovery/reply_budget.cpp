#include "discovery/reply_budget.h"

#include <algorithm>

namespace vandry {

namespace {
void refill(std::int64_t& tokens, std::uint32_t& lastMs, std::uint32_t nowMs, std::int64_t perSecond,
            std::int64_t burst)
{
    const std::uint32_t elapsed = nowMs - lastMs; // the tick wraps; the difference does not
    tokens = std::min(burst, tokens + std::int64_t{elapsed} * perSecond / 1000);
    lastMs = nowMs;
}
} // namespace

ReplyBudget::Bucket& ReplyBudget::bucketFor(Ipv4 destination, std::uint32_t nowMs)
{
    Bucket* oldest = &destinations_[0];
    for (auto& bucket : destinations_) {
        if (bucket.used && bucket.address == destination)
            return bucket;
        if (!bucket.used || (oldest->used && nowMs - bucket.lastMs > nowMs - oldest->lastMs))
            oldest = &bucket;
    }
    *oldest = {destination, kDestinationBurst, nowMs, true};
    return *oldest;
}

bool ReplyBudget::take(Ipv4 destination, std::size_t bytes, std::uint32_t nowMs)
{
    if (!total_.used)
        total_ = {0, kTotalBurst, nowMs, true};
    refill(total_.tokens, total_.lastMs, nowMs, kTotalBytesPerSecond, kTotalBurst);
    Bucket& bucket = bucketFor(destination, nowMs);
    refill(bucket.tokens, bucket.lastMs, nowMs, kDestinationBytesPerSecond, kDestinationBurst);
    if (total_.tokens <= 0 || bucket.tokens <= 0)
        return false;
    const auto charge = static_cast<std::int64_t>(bytes);
    total_.tokens -= charge;
    bucket.tokens -= charge;
    return true;
}

} // namespace vandry
