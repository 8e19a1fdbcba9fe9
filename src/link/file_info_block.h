#pragma once
// FileInfoBlock: how both sides of a link describe a file (56 bytes, the first 56 of a TaskRecord).
//   0  digest as 32 lower-case hex digits, no terminator; all zero when the requester does not know it
//  32  u32 marker 0x00C6D300 once initialised (its low byte 0 also ends the digest text)
//  36  u32 carried as received
//  40  u64 file size in bytes
//  48  u32 number of 1024-byte blocks, ceil(size / 1024)
//  52  u32 0

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace vandry {

inline constexpr std::uint32_t kBlockSize = 1024;
inline constexpr std::uint32_t kInfoMarker = 0x00C6D300;

constexpr std::uint64_t blockCountFor(std::uint64_t size)
{
    return (size + kBlockSize - 1) / kBlockSize;
}

// How many leading blocks of a file of `size` bytes lie whole within its first `length` bytes
// (the short last block counts once the file reaches its full size).
constexpr std::uint64_t blocksWithin(std::uint64_t length, std::uint64_t size)
{
    return length >= size ? blockCountFor(size) : length / kBlockSize;
}

struct FileInfoBlock {
    static constexpr std::size_t kSize = 56;

    std::array<std::uint8_t, 32> digestText{};
    std::uint32_t marker = 0;
    std::uint32_t field36 = 0;
    std::uint64_t size = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t field52 = 0;

    std::string digest() const { return std::string(digestText.begin(), digestText.end()); }
    void setDigest(std::string_view hex32);
    bool digestKnown() const { return digestText[0] != 0; }
    // Marker, size and block count for a file of `bytes`.
    void describe(std::uint64_t bytes);

    bool operator==(const FileInfoBlock&) const = default;
};

// The block describes a file of at least one block, its block count matching its size.
inline bool describesBlocks(const FileInfoBlock& info)
{
    return info.blockCount != 0 && blockCountFor(info.size) == info.blockCount;
}

void encodeFileInfoBlock(const FileInfoBlock& info, ByteWriter& out);
std::optional<FileInfoBlock> parseFileInfoBlock(ByteReader& in);

} // namespace vandry
