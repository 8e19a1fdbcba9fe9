#include "server/core/source_limits.h"

namespace vandry {

TokenBucket& SourceLimits::Buckets::of(SourceBudget budget)
{
    switch (budget) {
    case SourceBudget::Announce:
        return announces;
    case SourceBudget::List:
        return lists;
    case SourceBudget::Relay:
        return relays;
    case SourceBudget::Refusal:
        break;
    }
    return refusals;
}

bool SourceLimits::Buckets::idle(std::uint32_t nowMs) const
{
    return announces.full(nowMs) && lists.full(nowMs) && relays.full(nowMs) && refusals.full(nowMs);
}

bool SourceLimits::allow(Ipv4 source, SourceBudget budget, std::uint32_t nowMs)
{
    auto it = sources_.find(source);
    if (it == sources_.end()) {
        if (sources_.size() >= settings_.maxSources)
            forgetIdle(nowMs);
        if (sources_.size() >= settings_.maxSources)
            return false;
        const Buckets fresh{{settings_.announces, nowMs},
                            {settings_.lists, nowMs},
                            {settings_.relays, nowMs},
                            {settings_.refusals, nowMs}};
        it = sources_.emplace(source, fresh).first;
    }
    return it->second.of(budget).take(nowMs);
}

void SourceLimits::forgetIdle(std::uint32_t nowMs)
{
    std::erase_if(sources_, [nowMs](const auto& entry) { return entry.second.idle(nowMs); });
}

} // namespace vandry
