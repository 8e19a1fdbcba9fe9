// Feeds arbitrary bytes to the parsers of resume state: the 576-byte trailer (the input's first
// 576 bytes as a file's tail), block maps in their wire form, and the resume record. What they
// accept must keep the block-map invariants and encode back to itself; a map operated on by
// ranges taken from the input must never hold more than 128 boundaries.
#include <algorithm>
#include <cstdlib>

#include "store/resume_record.h"
#include "store/resume_trailer.h"

namespace {
using namespace vandry;

void requireCanonical(const BlockMap& map)
{
    if (map.count() > BlockMap::kCapacity || !BlockMap::fromBoundaries(map.boundaries()))
        std::abort();
}

void checkTrailer(ByteSpan input)
{
    const auto trailer = parseResumeTrailer(input.first(std::min(input.size(), kTrailerSize)));
    if (!trailer)
        return;
    requireCanonical(trailer->map);
    if (!trailer->map.withinBlocks(trailer->info.blockCount) ||
        parseResumeTrailer(encodeResumeTrailer(trailer->info, trailer->map)) != trailer)
        std::abort();
    ByteReader rest(input.subspan(kTrailerSize));
    const std::uint64_t length = rest.u64le() % (2 * trailer->info.size + 1);
    const auto placement = placeTrailer(length, trailer->info, trailer->map);
    if (!placement)
        return;
    auto added = placement->map;
    applyRanges(trailer->map, added, false);
    if (!added.empty() || std::uint64_t{placement->map.lastEnd()} * kBlockSize > placement->offset ||
        placement->offset + kTrailerSize > std::max(length, trailer->info.size))
        std::abort();
}

void checkBlockMap(ByteSpan input, MapInput mode)
{
    auto map = parseBlockMap(input, mode);
    if (!map)
        return;
    requireCanonical(*map);
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeBlockMap(*map, out);
    if (parseBlockMap(bytes, MapInput::Exact) != map)
        std::abort();
    ByteReader ops(input);
    while (ops.remaining() >= 5) {
        const bool add = ops.u8() % 2 == 0;
        const std::uint32_t a = ops.u16le();
        const std::uint32_t b = a + ops.u16le() % 64;
        if (add)
            map->addRange(a, b);
        else
            map->subtractRange(a, b);
        requireCanonical(*map);
    }
}

void checkRecord(ByteSpan input)
{
    const auto record = parseResumeRecord(input);
    if (!record)
        return;
    requireCanonical(record->map);
    const auto bytes = encodeResumeRecord(*record);
    if (!std::equal(bytes.begin(), bytes.end(), input.begin(), input.end()))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const vandry::ByteSpan input(data, size);
    checkTrailer(input);
    checkBlockMap(input, vandry::MapInput::Exact);
    checkBlockMap(input, vandry::MapInput::CutAtCapacity);
    checkRecord(input);
    return 0;
}
