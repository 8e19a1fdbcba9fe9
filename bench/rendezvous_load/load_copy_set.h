#pragma once
// The copies a load generator plays, and what each of them has been listed. Copy i has a made-up
// identity that carries i ("VLG1", then i as u32le, then filler), so that any record a list brings
// is traced back to its copy without a lookup table. For the copies being watched, the time each
// other copy was last listed to it is kept, as a copy's neighbour table keeps it: a copy's list is
// complete when every other copy, up to the 2047 its table holds, was listed to it in the last 120 s.
//
// The server sends the same list datagrams to many copies, so each distinct datagram is expanded and
// read only once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "common/bytes.h"
#include "discovery/host_record.h"

namespace vandry {

class LoadCopySet {
public:
    static constexpr std::size_t kNeighbourSlots = 2047;
    static constexpr std::int64_t kOnlineSeconds = 120;

    // Watches `watched` copies spread evenly over those played, copies `first` .. `first + played - 1`
    // of a population of `copies`.
    LoadCopySet(std::size_t copies, std::size_t first, std::size_t played, std::size_t watched);

    static HostRecord recordOf(std::uint32_t copy, Ipv4 address, std::uint16_t port);
    static std::optional<std::uint32_t> copyOf(const HostIdentity& identity);

    // A type 2 or 3 datagram that reached `copy` at second `nowSeconds` of the run; false when it does not expand or
    // parse.
    bool listed(std::uint32_t copy, ByteSpan datagram, std::int64_t nowSeconds);
    // Copies watched, and how many of them have a complete list at `nowSeconds`.
    std::size_t watchedCount() const { return watchedIndex_.size(); }
    std::size_t completeCount(std::int64_t nowSeconds) const;
    // The fewest others any watched copy has online at `nowSeconds`.
    std::size_t fewestListed(std::int64_t nowSeconds) const;
    std::size_t wanted() const { return copies_ - 1 < kNeighbourSlots ? copies_ - 1 : kNeighbourSlots; }

private:
    const std::vector<std::uint32_t>& recordsOf(ByteSpan datagram, bool& ok);
    std::size_t onlineOthers(std::uint32_t copy, std::size_t watchedSlot, std::int64_t nowSeconds) const;

    std::size_t copies_;
    std::unordered_map<std::uint32_t, std::size_t> watchedIndex_; // copy -> row of heard_
    // Per watched copy, per other copy: the run's second + 1 when it was last listed, 0 never
    // (runs are bounded well below 65535 s).
    std::vector<std::vector<std::uint16_t>> heard_;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> decoded_;
    std::vector<std::uint32_t> none_;
};

} // namespace vandry
