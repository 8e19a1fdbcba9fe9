#include "link/segment_scheduler.h"

#include <cstdio>
#include <optional>

namespace vandry {

namespace {

// Every pair must be a range inside the file; pairs may come in any order and may touch.
std::optional<BlockMap> parseSharerMap(ByteSpan payload, std::uint32_t blockCount)
{
    const std::size_t entries = std::min(payload.size() / 4, BlockMap::kCapacity);
    if (entries % 2 != 0)
        return std::nullopt;
    ByteReader in(payload);
    BlockMap map;
    for (std::size_t i = 0; i < entries; i += 2) {
        const std::uint32_t start = in.u32le();
        const std::uint32_t end = in.u32le();
        if (start > end || end > blockCount)
            return std::nullopt;
        map.addRange(start, end); // at most 64 ranges: always room
    }
    return map;
}

// Blocks fetched from a range's start are recorded only if the own map can take them. With the map
// full, only ranges that extend a range already held qualify; any other would be fetched, fail to
// be recorded and be chosen again, without end.
void keepRecordable(BlockMap& wanted, const BlockMap& own)
{
    if (own.count() + 2 <= BlockMap::kCapacity)
        return;
    BlockMap kept;
    for (std::size_t i = 0; i < wanted.rangeCount(); ++i) {
        const BlockRange r = wanted.range(i);
        if (own.canAdd(r.start, r.start + 1))
            kept.addRange(r.start, r.end);
    }
    wanted = kept;
}

bool writesSameFile(const FileStream& self, const FileStream& other)
{
    return &other != &self && other.writes() && self.sharesEntryWith(other);
}

ScheduleResult nothingLeft(const StreamEntry& entry)
{
    return entry.map.isWhole(entry.info.blockCount) ? ScheduleResult::FileComplete : ScheduleResult::SharerDone;
}

std::uint32_t midpoint(std::uint32_t a, std::uint32_t b)
{
    return static_cast<std::uint32_t>((std::uint64_t{a} + b) / 2);
}

// Removes the ranges other links hold from the peer map; returns the link to the same sharer
// with the most blocks left to fetch (the first of equals).
const ScheduledLink* excludeHeldRanges(const ScheduledLink& self, std::span<const ScheduledLink> others)
{
    const ScheduledLink* busiest = nullptr;
    std::uint32_t busiestLeft = 0;
    for (const auto& other : others) {
        const FetchRange& held = other.stream->range();
        if (!writesSameFile(*self.stream, *other.stream) || held.end == 0)
            continue;
        self.stream->peerMap().subtractRange(held.start, held.end);
        if (other.sharer != self.sharer)
            continue;
        const std::uint32_t left = held.end - held.unrequested();
        if (!busiest || left > busiestLeft) {
            busiest = &other;
            busiestLeft = left;
        }
    }
    return busiest;
}

ScheduleResult splitSameSharer(FileStream& self, FileStream& busiest)
{
    FetchRange& theirs = busiest.range();
    const std::uint32_t middle = midpoint(theirs.unrequested(), theirs.end);
    if (theirs.end - middle < kSplitMinimum || !self.entry()->map.canAdd(middle, middle + 1))
        return ScheduleResult::SharerDone;
    self.range() = {middle, theirs.end, middle};
    theirs.end = middle;
    return ScheduleResult::Fetch;
}

std::string takeoverLog(const ScheduledLink* holder, const FetchRange& before, std::uint32_t centre, BlockRange free,
                        const FetchRange& mine)
{
    char text[256];
    std::string log;
    if (holder) {
        std::snprintf(text, sizeof text, "Match:aEmp[%d]; {%u,%u,%u},Trxfer.Center=%u; PreSave{%u,%u},nSplit=%u",
                      static_cast<int>(holder->index), before.start, before.position, before.end, centre, free.start,
                      free.end, midpoint(free.start, free.end));
        log = text;
        if (centre > free.start)
            log += " ELSE.Logical ";
    }
    const FetchRange after = holder ? holder->stream->range() : FetchRange{};
    std::snprintf(text, sizeof text, "Result:aEmp[%d]; Ori{%u,%u,%u},this{%u,%u}\r\n",
                  holder ? static_cast<int>(holder->index) : -1, after.start, after.position, after.end, mine.start,
                  mine.end);
    return log + text;
}

// Takes over part of what another link holds but has not fetched yet.
ScheduleOutcome takeOver(const ScheduledLink& self, std::span<const ScheduledLink> others, BlockMap unfetched)
{
    const StreamEntry& entry = *self.stream->entry();
    for (const auto& other : others) {
        const FetchRange& held = other.stream->range();
        if (writesSameFile(*self.stream, *other.stream) && held.unrequested() > held.start)
            unfetched.subtractRange(held.start, held.unrequested());
    }
    std::optional<BlockRange> free;
    for (std::size_t i = 0; i < unfetched.rangeCount() && !free; ++i)
        if (unfetched.range(i).end - unfetched.range(i).start > kTakeoverMinimum)
            free = unfetched.range(i);
    if (!free)
        return {nothingLeft(entry), {}};
    // A holder that has fetched nothing yet starts exactly at the free range: it counts too, so
    // that its range is split instead of being fetched twice.
    const ScheduledLink* holder = nullptr;
    for (const auto& other : others) {
        const FetchRange& held = other.stream->range();
        if (!holder && writesSameFile(*self.stream, *other.stream) && held.start < held.end &&
            held.start <= free->start && free->start < held.end)
            holder = &other;
    }
    std::uint32_t start = free->start;
    std::uint32_t centre = 0;
    FetchRange before;
    if (holder) {
        FetchRange& held = holder->stream->range();
        before = held;
        centre = midpoint(held.unrequested(), held.end);
        const std::uint32_t half = midpoint(free->start, free->end);
        start = centre <= start ? start : half < held.end ? half : held.end;
        if (!entry.map.canAdd(start, start + 1))
            return {nothingLeft(entry), {}};
        held.end = centre <= free->start ? free->start : start;
    } else if (!entry.map.canAdd(start, start + 1)) {
        return {nothingLeft(entry), {}};
    }
    self.stream->range() = {start, free->end, start};
    return {ScheduleResult::Fetch, takeoverLog(holder, before, centre, *free, self.stream->range())};
}

} // namespace

ScheduleOutcome scheduleSegment(const ScheduledLink& self, std::span<const ScheduledLink> others, ByteSpan sharerMap)
{
    FileStream& stream = *self.stream;
    const StreamEntry* entry = stream.entry();
    if (!entry || !stream.writes())
        return {};
    auto offered = parseSharerMap(sharerMap, entry->info.blockCount);
    if (!offered)
        return {};
    BlockMap& wanted = stream.peerMap();
    wanted = *offered;
    applyRanges(entry->map, wanted, false);
    keepRecordable(wanted, entry->map);
    if (wanted.empty())
        return {nothingLeft(*entry), {}};
    const BlockMap unfetched = wanted;
    const ScheduledLink* sameSharer = excludeHeldRanges(self, others);
    keepRecordable(wanted, entry->map); // a held range may have cut a range's recordable start off
    if (!wanted.empty()) {
        const BlockRange first = wanted.range(0);
        const std::uint32_t end = first.end - first.start > kFreshRangeLimit ? first.start + kFreshRangeCut : first.end;
        stream.range() = {first.start, end, first.start};
        return {ScheduleResult::Fetch, {}};
    }
    if (sameSharer)
        return {splitSameSharer(stream, *sameSharer->stream), {}};
    return takeOver(self, others, unfetched);
}

} // namespace vandry
