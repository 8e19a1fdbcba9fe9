#include "store/resume_record.h"

#include <algorithm>
#include <array>

#include "common/md5.h"

namespace vandry {

namespace {
constexpr std::array<std::uint8_t, 4> kMagic{0x56, 0x52, 0x73, 0x6D};
constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kChecksumSize = 16;
} // namespace

std::vector<std::uint8_t> encodeResumeRecord(const ResumeRecord& record)
{
    if (record.path.empty() || record.path.size() > kMaxRecordPath || !describesBlocks(record.info))
        return {};
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    out.bytes(kMagic);
    out.u16le(kVersion);
    out.u16le(static_cast<std::uint16_t>(record.path.size()));
    out.bytes(asBytes(record.path));
    encodeFileInfoBlock(record.info, out);
    out.u16le(static_cast<std::uint16_t>(record.map.count()));
    encodeBlockMap(record.map, out);
    out.bytes(md5(bytes));
    return bytes;
}

std::optional<ResumeRecord> parseResumeRecord(ByteSpan bytes)
{
    if (bytes.size() < kChecksumSize)
        return std::nullopt;
    const auto body = bytes.first(bytes.size() - kChecksumSize);
    const auto digest = md5(body);
    if (!std::ranges::equal(digest, bytes.last(kChecksumSize)))
        return std::nullopt;

    ByteReader in(body);
    if (in.bytes<4>() != kMagic || in.u16le() != kVersion)
        return std::nullopt;
    const auto pathLength = in.u16le();
    const auto path = in.span(pathLength);
    auto info = parseFileInfoBlock(in);
    const auto count = in.u16le();
    if (!in.ok() || pathLength == 0 || pathLength > kMaxRecordPath || !info || !describesBlocks(*info) ||
        count % 2 != 0 || count > BlockMap::kCapacity || in.remaining() != 4u * count)
        return std::nullopt;
    auto map = parseBlockMap(in.span(4u * count), MapInput::Exact);
    if (!map || !map->withinBlocks(info->blockCount))
        return std::nullopt;
    return ResumeRecord{std::string(path.begin(), path.end()), *info, *map};
}

} // namespace vandry
