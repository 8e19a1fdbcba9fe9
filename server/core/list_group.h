#pragma once
// A group of at most 2048 copies that list each other. A copy's neighbour table holds itself and
// 2047 others, so a group is exactly what one copy can take in; every member gets the same list,
// itself included (a copy skips its own identity when it merges a list). Because the list is the
// same for all members, its datagrams are built once and sent as they are until a member changes:
// the slots are cut into chunks of 32, usually one datagram each (record_list_datagrams.h), and a
// change rebuilds only its chunk.
//
// Every change of a slot takes a new version number, so that a member whose list is otherwise
// current is sent only the records changed since the version it was last sent.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "discovery/host_record.h"
#include "server/core/record_list_datagrams.h"

namespace vandry {

class ListGroup {
public:
    static constexpr std::size_t kSlots = 2048;
    static constexpr std::size_t kChunkSlots = kMaxRecordsPerDatagram;
    static constexpr std::size_t kChunks = (kSlots + kChunkSlots - 1) / kChunkSlots;
    using Datagram = std::vector<std::uint8_t>;

    ListGroup();

    // Takes a free slot, or nullopt when the group is full.
    std::optional<std::uint16_t> take(const HostRecord& record);
    void update(std::uint16_t slot, const HostRecord& record);
    void release(std::uint16_t slot);

    const HostRecord& record(std::uint16_t slot) const { return slots_[slot].record; }
    std::size_t members() const { return kSlots - free_.size(); }
    bool hasRoom() const { return !free_.empty(); }
    std::uint64_t version() const { return version_; }

    struct Chunk {
        const std::vector<Datagram>* datagrams;
        std::size_t records;
    };
    // The type 2 datagrams listing every member, by chunk with their record counts; empty chunks are
    // left out.
    std::vector<Chunk> fullList();
    // The datagrams of the chunks in which a member changed after `version`: cheaper than the full
    // list when many changed, and built once for every member that needs them.
    std::vector<const Datagram*> chunksChangedSince(std::uint64_t version);
    // The members changed after `version`, or nullopt when there are more than `limit`.
    std::optional<std::vector<HostRecord>> changedSince(std::uint64_t version, std::size_t limit) const;
    template <typename Visit> void forEachMember(Visit visit) const
    {
        for (const Slot& slot : slots_)
            if (slot.used)
                visit(slot.record);
    }

private:
    struct Slot {
        HostRecord record;
        std::uint64_t changed = 0;
        bool used = false;
    };
    void touch(std::uint16_t slot);
    void rebuild(std::size_t chunk);

    std::array<Slot, kSlots> slots_{};
    std::vector<std::uint16_t> free_;
    std::uint64_t version_ = 0;
    std::array<std::vector<Datagram>, kChunks> chunks_{};
    std::array<std::size_t, kChunks> chunkRecords_{};
    std::array<std::uint64_t, kChunks> chunkChanged_{};
    std::array<bool, kChunks> stale_{};
};

} // namespace vandry
