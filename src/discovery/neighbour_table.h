#pragma once
// The neighbour table: 2048 slots of NeighbourRecord, slot 0 the local copy, slots 1-2047 the
// copies heard of. Slots are never freed; a copy that goes quiet ages, and its slot may be taken
// over by a new copy once it is more than 120 s old (merge) and is no longer found by identity
// after 600 s.
//
// Ages are now - last seen, computed in signed 64-bit arithmetic, so that a last-seen time in the
// future (the local slot's fixed 0x7841479C, in 2033) is always fresh. A last seen of 0 marks a
// free slot, which is never fresh.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/identity.h"
#include "common/ipv4.h"
#include "discovery/host_record.h"

namespace vandry {

// Where a record list came from: one of this copy's rendezvous servers, or anyone else.
enum class RecordSource : std::uint8_t { Server, Peer };

struct NeighbourSlot {
    std::uint16_t index = 0;
    bool operator==(const NeighbourSlot&) const = default;
};

class NeighbourTable {
public:
    static constexpr std::size_t kSlots = 2048;
    static constexpr NeighbourSlot kLocalSlot{0};
    static constexpr std::uint32_t kLocalLastSeen = 0x7841479C;
    static constexpr std::int64_t kObservedAddressAge = 10;
    static constexpr std::int64_t kOnlineAge = 120;
    static constexpr std::int64_t kSourceQueryAge = 300;
    static constexpr std::int64_t kFindAge = 600;

    NeighbourTable(const Clock& clock, const HostRecord& local);

    const Clock& clock() const { return clock_; }
    const NeighbourRecord& local() const { return slots_[0]; }
    // Replaces the local record (mapped address learnt, port changed); its last seen stays fixed.
    void setLocal(const HostRecord& record) { slots_[0].host = record; }
    const NeighbourRecord& at(NeighbourSlot slot) const { return slots_[slot.index]; }

    // Merges a received record list. The hint (datagram bytes 4-5) is honoured only for a list of
    // one record and only when the hinted slot already holds that record's identity. Returns the
    // slot of the last record, for the caller to write back into the datagram; nullopt when that
    // record carried the local identity or the table had no room.
    // A new copy takes the first free slot, else the first stale one. Records from a server may
    // also take a live slot that only peers have vouched for (a provisional entry, or a record a
    // peer sent), so that anyone flooding the table with made-up copies cannot keep a real one out.
    std::optional<NeighbourSlot> merge(std::span<const HostRecord> records, std::uint16_t slotHint,
                                       RecordSource source = RecordSource::Server);

    // The slot of `identity` seen less than 600 s ago (slot 0 included). With `create`, otherwise a
    // stale slot of the same identity or the first free slot becomes a provisional "(TEMP)" entry;
    // a stale slot of another identity is never taken here.
    std::optional<NeighbourSlot> find(const HostIdentity& identity, bool create);
    // The neighbour list's key: exactly 32 hexadecimal digits. Never creates.
    std::optional<NeighbourSlot> findByHexText(std::string_view hex) const;

    // What the table knows of the copy `record` describes, or `record` with empty local fields.
    NeighbourRecord snapshot(const HostRecord& record) const;

    // Where to send to a neighbour directly, first rule that applies: its public address when it
    // sits on it (LAN == mapped address, UDP == mapped port); a confirmed direct address; the
    // observed address while seen less than 10 s ago; its LAN address when both copies share a
    // mapped address (one translator, or no server for either). nullopt: relay through the server.
    // A zero LAN address is never offered.
    std::optional<Endpoint> chooseAddress(const NeighbourRecord& neighbour) const;
    // The neighbour's primary LAN address and UDP port when non-zero and not its mapped address.
    std::optional<Endpoint> lanAddress(const NeighbourRecord& neighbour) const;

    // A punch probe arrived from the copy in `slot`. The local slot is never changed this way.
    void recordProbe(NeighbourSlot slot, Endpoint source);
    // The copy in `slot` answered a punch probe sent to `address`.
    void confirmDirectAddress(NeighbourSlot slot, Ipv4 address);
    // Links to the copy in `slot` go over the datagram transport only (TCP failed), or no longer.
    void setDatagramOnly(NeighbourSlot slot, bool on);

    // The main-window list: every slot, slot 0 included, seen at most 120 s ago.
    std::vector<NeighbourSlot> listed() const;
    // Neighbours (slots 1-2047) seen less than `maxAge` seconds ago: 120 for a search of all
    // neighbours, 300 for the source query sweep.
    std::vector<NeighbourSlot> neighboursSeenWithin(std::int64_t maxAge) const;

private:
    std::int64_t age(const NeighbourRecord& record) const;
    bool isFree(const NeighbourRecord& record) const { return record.lastSeen == 0; }
    std::uint32_t nowStamp() const;
    std::optional<NeighbourSlot> findFresh(const HostIdentity& identity) const;
    std::optional<NeighbourSlot> slotForMerge(const HostRecord& record, std::uint16_t hint, RecordSource source) const;

    const Clock& clock_;
    std::vector<NeighbourRecord> slots_;
    std::vector<bool> fromServer_; // a server has named the slot's copy
};

} // namespace vandry
