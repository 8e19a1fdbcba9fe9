#include "server/core/relay_budget.h"

namespace vandry {

RelayBudget::RelayBudget(RelaySettings settings, std::uint32_t nowMs)
    : settings_(settings), total_(settings.totalBytes, nowMs)
{
}

bool RelayBudget::take(const HostIdentity& sender, std::size_t bytes, std::uint32_t nowMs)
{
    auto it = senders_.find(sender);
    if (it == senders_.end())
        it =
            senders_.emplace(sender, SenderBuckets{{settings_.copyBytes, nowMs}, {settings_.copyPackets, nowMs}}).first;
    SenderBuckets& buckets = it->second;
    const auto size = static_cast<double>(bytes);
    if (!buckets.packets.take(nowMs))
        return false;
    if (!buckets.bytes.take(nowMs, size))
        return false;
    return total_.take(nowMs, size);
}

void RelayBudget::forgetIdle(std::uint32_t nowMs)
{
    std::erase_if(senders_, [nowMs](const auto& entry) {
        return entry.second.bytes.full(nowMs) && entry.second.packets.full(nowMs);
    });
}

} // namespace vandry
