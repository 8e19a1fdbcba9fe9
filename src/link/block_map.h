#pragma once
// BlockMap: the sorted set of 1024-byte block ranges a copy holds of one file (or, on the
// scheduler's side, may fetch). At most 128 boundaries: entries 2i and 2i+1 are the start
// (inclusive) and end (exclusive) of range i. Every map in memory is canonical: ranges are
// non-empty, disjoint, non-adjacent and ascending, so the boundaries rise strictly; touching
// ranges merge.
//
// Wire form (block-map frames): the boundaries as little-endian u32, 4 bytes each, count x 4
// bytes in all; an empty map is no bytes.
//
// Out of room, an operation never makes the map claim more than the exact result would:
// addRange leaves the map unchanged and subtractRange drops the rest of the range it would have
// split. Both then return false. A map of present blocks may therefore lose blocks (they are
// fetched again), but never gains blocks that were not written.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "common/bytes.h"

namespace vandry {

struct BlockRange {
    std::uint32_t start = 0;
    std::uint32_t end = 0; // exclusive
    bool operator==(const BlockRange&) const = default;
};

class BlockMap {
public:
    static constexpr std::size_t kCapacity = 128;
    // Batches stop once a map holds more boundaries than this, keeping room for one insertion.
    static constexpr std::size_t kBatchLimit = kCapacity - 2;

    // The map of a complete file: (0, blockCount), or empty for no blocks.
    static BlockMap whole(std::uint32_t blockCount);
    // Nothing unless the boundaries are canonical (see above) and at most kCapacity.
    static std::optional<BlockMap> fromBoundaries(std::span<const std::uint32_t> boundaries);

    // Union with [a, b); no effect when a >= b. False when out of room (map unchanged).
    bool addRange(std::uint32_t a, std::uint32_t b);
    // Removes [a, b); no effect when a >= b. False when a split did not fit (see above).
    bool subtractRange(std::uint32_t a, std::uint32_t b);
    void clear() { count_ = 0; }

    std::span<const std::uint32_t> boundaries() const { return {v_.data(), count_}; }
    std::size_t count() const { return count_; }
    std::size_t rangeCount() const { return count_ / 2; }
    BlockRange range(std::size_t i) const { return {v_[2 * i], v_[2 * i + 1]}; }
    bool empty() const { return count_ == 0; }
    // The end of the last range; 0 for an empty map.
    std::uint32_t lastEnd() const { return count_ == 0 ? 0 : v_[count_ - 1]; }
    std::uint64_t countBlocks() const;
    // The single range (0, blockCount) of a complete file.
    bool isWhole(std::uint32_t blockCount) const;
    // How many blocks from `block` on are present without a gap; 0 when `block` is not.
    std::uint32_t runFrom(std::uint32_t block) const;
    // Adding [a, b) would fit: it touches or overlaps a range, or there is room for one more.
    bool canAdd(std::uint32_t a, std::uint32_t b) const;
    // Every range lies inside a file of blockCount blocks.
    bool withinBlocks(std::uint32_t blockCount) const { return lastEnd() <= blockCount; }

    bool operator==(const BlockMap& other) const;

private:
    // Index of the last boundary below `a` (lower) or at most `a` (upper); -1 if none. Even means
    // inside a range, odd (or -1) inside a gap.
    int lastBelow(std::uint32_t a) const;
    int lastAtOrBelow(std::uint32_t a) const;
    void insertPair(int after, std::uint32_t a, std::uint32_t b);
    // Deletes the boundaries strictly between positions i and j.
    void eraseBetween(int i, int j);

    std::array<std::uint32_t, kCapacity> v_{};
    std::size_t count_ = 0;
};

// For each range of `source` in order, adds it to or subtracts it from `target`. Adding stops
// early once the target holds more than kBatchLimit boundaries; subtracting always runs to the end
// (out of room it removes more, never less), so a subtracted range is never left in the target.
void applyRanges(const BlockMap& source, BlockMap& target, bool add);

void encodeBlockMap(const BlockMap& map, ByteWriter& out);

enum class MapInput {
    Exact,         // the whole input is the map: at most 128 entries, no partial entry
    CutAtCapacity, // a peer's frame payload: only its first 128 whole entries count
};
// Refuses an odd count of entries and boundaries that are not canonical.
std::optional<BlockMap> parseBlockMap(ByteSpan bytes, MapInput input);

} // namespace vandry
