#include "link/file_info_block.h"

#include <algorithm>

namespace vandry {

void FileInfoBlock::setDigest(std::string_view hex32)
{
    digestText.fill(0);
    std::copy_n(hex32.begin(), std::min(hex32.size(), digestText.size()), digestText.begin());
}

void FileInfoBlock::describe(std::uint64_t bytes)
{
    marker = kInfoMarker;
    size = bytes;
    blockCount = static_cast<std::uint32_t>(blockCountFor(bytes));
}

void encodeFileInfoBlock(const FileInfoBlock& info, ByteWriter& out)
{
    out.bytes(info.digestText);
    out.u32le(info.marker);
    out.u32le(info.field36);
    out.u64le(info.size);
    out.u32le(info.blockCount);
    out.u32le(info.field52);
}

std::optional<FileInfoBlock> parseFileInfoBlock(ByteReader& in)
{
    if (in.remaining() < FileInfoBlock::kSize)
        return std::nullopt;
    FileInfoBlock info;
    info.digestText = in.bytes<32>();
    info.marker = in.u32le();
    info.field36 = in.u32le();
    info.size = in.u64le();
    info.blockCount = in.u32le();
    info.field52 = in.u32le();
    return info;
}

} // namespace vandry
