#include "link/block_map.h"

#include <algorithm>

namespace vandry {

namespace {
bool inGap(int index)
{
    return index < 0 || index % 2 == 1;
}
} // namespace

BlockMap BlockMap::whole(std::uint32_t blockCount)
{
    BlockMap map;
    map.addRange(0, blockCount);
    return map;
}

std::optional<BlockMap> BlockMap::fromBoundaries(std::span<const std::uint32_t> boundaries)
{
    if (boundaries.size() > kCapacity || boundaries.size() % 2 != 0)
        return std::nullopt;
    for (std::size_t i = 1; i < boundaries.size(); ++i)
        if (boundaries[i - 1] >= boundaries[i])
            return std::nullopt;
    BlockMap map;
    std::copy(boundaries.begin(), boundaries.end(), map.v_.begin());
    map.count_ = boundaries.size();
    return map;
}

int BlockMap::lastBelow(std::uint32_t a) const
{
    const auto* end = v_.data() + count_;
    return static_cast<int>(std::lower_bound(v_.data(), end, a) - v_.data()) - 1;
}

int BlockMap::lastAtOrBelow(std::uint32_t a) const
{
    const auto* end = v_.data() + count_;
    return static_cast<int>(std::upper_bound(v_.data(), end, a) - v_.data()) - 1;
}

void BlockMap::insertPair(int after, std::uint32_t a, std::uint32_t b)
{
    const auto at = static_cast<std::size_t>(after + 1);
    std::copy_backward(v_.begin() + at, v_.begin() + count_, v_.begin() + count_ + 2);
    v_[at] = a;
    v_[at + 1] = b;
    count_ += 2;
}

void BlockMap::eraseBetween(int i, int j)
{
    if (j - i < 2)
        return;
    std::copy(v_.begin() + j, v_.begin() + count_, v_.begin() + i + 1);
    count_ -= static_cast<std::size_t>(j - i - 1);
}

bool BlockMap::addRange(std::uint32_t a, std::uint32_t b)
{
    if (a >= b)
        return true;
    int i = lastBelow(a);
    int j = lastAtOrBelow(b);
    if (i == j) {
        if (!inGap(i))
            return true; // already inside one range
        if (count_ + 2 > kCapacity)
            return false;
        insertPair(i, a, b);
        return true;
    }
    if (inGap(i)) {
        v_[i + 1] = a; // the next range now starts at a
        ++i;
    }
    if (inGap(j))
        v_[j] = b; // that range now ends at b
    else
        ++j;
    eraseBetween(i, j);
    return true;
}

bool BlockMap::subtractRange(std::uint32_t a, std::uint32_t b)
{
    if (a >= b)
        return true;
    int i = lastBelow(a);
    int j = lastAtOrBelow(b);
    if (i == j) {
        if (inGap(i))
            return true; // nothing of [a, b) is present
        if (count_ + 2 > kCapacity) {
            v_[i + 1] = a; // no room to split: give up the rest of the range as well
            return false;
        }
        insertPair(i, a, b);
        return true;
    }
    if (!inGap(i)) {
        v_[i + 1] = a; // cut the range at a
        ++i;
    }
    if (inGap(j))
        ++j;
    else
        v_[j] = b; // the range now starts at b
    eraseBetween(i, j);
    return true;
}

std::uint64_t BlockMap::countBlocks() const
{
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < rangeCount(); ++i)
        total += range(i).end - range(i).start;
    return total;
}

std::uint32_t BlockMap::runFrom(std::uint32_t block) const
{
    const int i = lastAtOrBelow(block);
    return inGap(i) ? 0 : v_[i + 1] - block;
}

bool BlockMap::canAdd(std::uint32_t a, std::uint32_t b) const
{
    return count_ + 2 <= kCapacity || a >= b || lastBelow(a) != lastAtOrBelow(b) || !inGap(lastBelow(a));
}

bool BlockMap::isWhole(std::uint32_t blockCount) const
{
    return count_ == 2 && v_[0] == 0 && v_[1] == blockCount;
}

bool BlockMap::operator==(const BlockMap& other) const
{
    return std::ranges::equal(boundaries(), other.boundaries());
}

void applyRanges(const BlockMap& source, BlockMap& target, bool add)
{
    for (std::size_t i = 0; i < source.rangeCount(); ++i) {
        if (add && target.count() > BlockMap::kBatchLimit)
            return;
        const auto r = source.range(i);
        if (add)
            target.addRange(r.start, r.end);
        else
            target.subtractRange(r.start, r.end);
    }
}

void encodeBlockMap(const BlockMap& map, ByteWriter& out)
{
    for (auto boundary : map.boundaries())
        out.u32le(boundary);
}

std::optional<BlockMap> parseBlockMap(ByteSpan bytes, MapInput input)
{
    std::size_t entries = bytes.size() / 4;
    if (input == MapInput::Exact && (bytes.size() % 4 != 0 || entries > BlockMap::kCapacity))
        return std::nullopt;
    entries = std::min(entries, BlockMap::kCapacity);
    std::array<std::uint32_t, BlockMap::kCapacity> boundaries{};
    ByteReader in(bytes);
    for (std::size_t i = 0; i < entries; ++i)
        boundaries[i] = in.u32le();
    return BlockMap::fromBoundaries(std::span(boundaries).first(entries));
}

} // namespace vandry
