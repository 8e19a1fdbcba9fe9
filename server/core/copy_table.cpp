#include "server/core/copy_table.h"

#include <algorithm>

namespace vandry {

CopyTable::CopyTable(std::size_t capacity, std::int64_t forgetAfterSeconds)
    : capacity_(capacity), forgetAfter_(forgetAfterSeconds)
{
}

AnnounceOutcome CopyTable::remember(const HostRecord& record, std::int64_t now)
{
    auto it = copies_.find(record.identity);
    if (it == copies_.end()) {
        if (full())
            return AnnounceOutcome::Refused;
        copies_.emplace(record.identity, Kept{record, now});
        return AnnounceOutcome::New;
    }
    Kept& kept = it->second;
    // A copy heard again after falling silent is news to the others, like a first announce.
    AnnounceOutcome outcome = AnnounceOutcome::Refreshed;
    if (!live(kept, now))
        outcome = AnnounceOutcome::New;
    else if (kept.record.mapAddr != record.mapAddr || kept.record.mapPort != record.mapPort)
        outcome = AnnounceOutcome::Moved;
    kept = Kept{record, now};
    return outcome;
}

std::optional<HostRecord> CopyTable::findLive(const HostIdentity& identity, std::int64_t now) const
{
    const auto it = copies_.find(identity);
    if (it == copies_.end() || !live(it->second, now))
        return std::nullopt;
    return it->second.record;
}

std::vector<HostRecord> CopyTable::liveOthers(const HostIdentity& except, std::int64_t now, std::size_t limit) const
{
    std::vector<const Kept*> chosen;
    for (const auto& [identity, kept] : copies_)
        if (identity != except && live(kept, now))
            chosen.push_back(&kept);
    if (chosen.size() > limit) {
        std::nth_element(chosen.begin(), chosen.begin() + static_cast<std::ptrdiff_t>(limit), chosen.end(),
                         [](const Kept* a, const Kept* b) { return a->lastHeard > b->lastHeard; });
        chosen.resize(limit);
    }
    std::vector<HostRecord> records;
    records.reserve(chosen.size());
    for (const Kept* kept : chosen)
        records.push_back(kept->record);
    return records;
}

std::vector<HostRecord> CopyTable::forgetSilent(std::int64_t now)
{
    std::vector<HostRecord> forgotten;
    for (auto it = copies_.begin(); it != copies_.end();) {
        if (live(it->second, now)) {
            ++it;
            continue;
        }
        forgotten.push_back(it->second.record);
        it = copies_.erase(it);
    }
    return forgotten;
}

} // namespace vandry
