#include "server/core/list_group.h"

#include <algorithm>

namespace vandry {

ListGroup::ListGroup()
{
    free_.reserve(kSlots);
    for (std::size_t slot = kSlots; slot-- > 0;)
        free_.push_back(static_cast<std::uint16_t>(slot)); // the lowest slot is taken first
}

std::optional<std::uint16_t> ListGroup::take(const HostRecord& record)
{
    if (free_.empty())
        return std::nullopt;
    const std::uint16_t slot = free_.back();
    free_.pop_back();
    slots_[slot].used = true;
    slots_[slot].record = record;
    touch(slot);
    return slot;
}

void ListGroup::update(std::uint16_t slot, const HostRecord& record)
{
    slots_[slot].record = record;
    touch(slot);
}

void ListGroup::release(std::uint16_t slot)
{
    slots_[slot].used = false;
    free_.push_back(slot);
    touch(slot);
}

void ListGroup::touch(std::uint16_t slot)
{
    slots_[slot].changed = ++version_;
    stale_[slot / kChunkSlots] = true;
    chunkChanged_[slot / kChunkSlots] = version_;
}

void ListGroup::rebuild(std::size_t chunk)
{
    std::vector<HostRecord> records;
    const std::size_t first = chunk * kChunkSlots;
    for (std::size_t slot = first; slot < std::min(kSlots, first + kChunkSlots); ++slot)
        if (slots_[slot].used)
            records.push_back(slots_[slot].record);
    chunks_[chunk] = buildRecordListDatagrams(ControlType::Records, 0, records);
    chunkRecords_[chunk] = records.size();
    stale_[chunk] = false;
}

std::vector<const ListGroup::Datagram*> ListGroup::chunksChangedSince(std::uint64_t version)
{
    std::vector<const Datagram*> out;
    for (std::size_t chunk = 0; chunk < kChunks; ++chunk) {
        if (chunkChanged_[chunk] <= version)
            continue;
        if (stale_[chunk])
            rebuild(chunk);
        for (const auto& datagram : chunks_[chunk])
            out.push_back(&datagram);
    }
    return out;
}

std::vector<ListGroup::Chunk> ListGroup::fullList()
{
    std::vector<Chunk> out;
    for (std::size_t chunk = 0; chunk < kChunks; ++chunk) {
        if (stale_[chunk])
            rebuild(chunk);
        if (!chunks_[chunk].empty())
            out.push_back({&chunks_[chunk], chunkRecords_[chunk]});
    }
    return out;
}

std::optional<std::vector<HostRecord>> ListGroup::changedSince(std::uint64_t version, std::size_t limit) const
{
    std::vector<HostRecord> out;
    if (version >= version_)
        return out;
    for (const Slot& slot : slots_) {
        if (!slot.used || slot.changed <= version)
            continue;
        if (out.size() == limit)
            return std::nullopt;
        out.push_back(slot.record);
    }
    return out;
}

} // namespace vandry
