#include "store/resume_trailer.h"

#include <algorithm>
#include <vector>

namespace vandry {

namespace {
constexpr std::uint16_t kLeadLength = 568;
constexpr std::size_t kMapOffset = 56;

// Canonical maps inside the file survive; anything else reads as no present block.
BlockMap trustedMap(ByteReader& in, std::int16_t count, std::uint32_t blockCount)
{
    std::array<std::uint32_t, BlockMap::kCapacity> boundaries{};
    for (auto& boundary : boundaries)
        boundary = in.u32le();
    if (count < 0)
        return {};
    const auto used = std::min<std::size_t>(static_cast<std::size_t>(count), BlockMap::kCapacity);
    const auto map = BlockMap::fromBoundaries(std::span(boundaries).first(used));
    if (!map || !map->withinBlocks(blockCount))
        return {};
    return *map;
}
} // namespace

std::array<std::uint8_t, kTrailerSize> encodeResumeTrailer(const FileInfoBlock& info, const BlockMap& map)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kTrailerSize);
    ByteWriter out(bytes);
    out.u16le(kLeadLength);
    out.u16le(0);
    out.u32le(kInfoMarker);
    out.bytes(info.digestText);
    out.u64le(info.size);
    out.u32le(info.blockCount);
    out.u16le(0);
    out.u16le(static_cast<std::uint16_t>(map.count()));
    encodeBlockMap(map, out);
    out.zeros(kMapOffset + 4 * BlockMap::kCapacity - out.size());
    out.u16le(static_cast<std::uint16_t>(kTrailerSize));
    out.u16le(0);
    out.u32le(kInfoMarker);
    std::array<std::uint8_t, kTrailerSize> trailer{};
    std::copy(bytes.begin(), bytes.end(), trailer.begin());
    return trailer;
}

std::optional<ResumeTrailer> parseResumeTrailer(ByteSpan tail)
{
    if (tail.size() != kTrailerSize)
        return std::nullopt;
    ByteReader closing(tail.subspan(kLeadLength));
    const auto closingLength = closing.u16le();
    closing.skip(2);
    if (closingLength != kTrailerSize || closing.u32le() != kInfoMarker)
        return std::nullopt;

    ByteReader in(tail);
    const auto leadLength = in.u16le();
    in.skip(2);
    if (leadLength != kLeadLength || in.u32le() != kInfoMarker)
        return std::nullopt;
    ResumeTrailer trailer;
    trailer.info.digestText = in.bytes<32>();
    const auto size = in.u64le();
    const auto blockCount = in.u32le();
    if (blockCountFor(size) != blockCount)
        return std::nullopt;
    trailer.info.describe(size);
    in.skip(2);
    const auto count = static_cast<std::int16_t>(in.u16le());
    trailer.map = trustedMap(in, count, blockCount);
    return trailer;
}

std::optional<TrailerPlacement> placeTrailer(std::uint64_t length, const FileInfoBlock& info, BlockMap map)
{
    const std::uint64_t backed = blocksWithin(length, info.size);
    if (backed < map.lastEnd())
        map.subtractRange(static_cast<std::uint32_t>(backed), map.lastEnd());

    const std::uint64_t end = std::uint64_t{map.lastEnd()} * kBlockSize;
    if (length >= end + kTrailerSize)
        return TrailerPlacement{length - kTrailerSize, map};
    if (length + kTrailerSize <= info.size)
        return TrailerPlacement{length, map};
    if (length < kTrailerSize)
        return std::nullopt;
    // Here length - 576 < end, so the kept block count is below lastEnd and fits 32 bits.
    const auto keep = static_cast<std::uint32_t>((length - kTrailerSize) / kBlockSize);
    map.subtractRange(keep, map.lastEnd());
    return TrailerPlacement{length - kTrailerSize, map};
}

} // namespace vandry
