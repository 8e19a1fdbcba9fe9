#include "link/link_records.h"

#include "common/text.h"

namespace vandry {

void encodeFixedText(std::string_view text, std::size_t fieldSize, ByteWriter& out)
{
    if (fieldSize == 0)
        return;
    const auto cut = utf8Prefix(text, fieldSize - 1);
    out.bytes(ByteSpan(reinterpret_cast<const std::uint8_t*>(cut.data()), cut.size()));
    out.zeros(fieldSize - cut.size());
}

std::string parseFixedText(ByteReader& in, std::size_t fieldSize)
{
    return fixedFieldText(in.span(fieldSize));
}

void encodeTaskRecord(const TaskRecord& record, ByteWriter& out)
{
    encodeFileInfoBlock(record.info, out);
    out.u8(record.directory);
    out.bytes(record.reserved57);
    out.u8(record.attribute);
    encodeFixedText(record.remotePath, TaskRecord::kPathSize, out);
    encodeFixedText(record.localPath, TaskRecord::kPathSize, out);
    out.bytes(record.reserved580);
}

std::vector<std::uint8_t> encodeTaskRecord(const TaskRecord& record)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeTaskRecord(record, out);
    return bytes;
}

std::optional<TaskRecord> parseTaskRecord(ByteReader& in)
{
    if (in.remaining() < TaskRecord::kSize)
        return std::nullopt;
    TaskRecord record;
    record.info = *parseFileInfoBlock(in);
    record.directory = in.u8();
    record.reserved57 = in.bytes<2>();
    record.attribute = in.u8();
    record.remotePath = parseFixedText(in, TaskRecord::kPathSize);
    record.localPath = parseFixedText(in, TaskRecord::kPathSize);
    record.reserved580 = in.bytes<4>();
    return record;
}

void encodePeerInfo(const PeerInfo& info, ByteWriter& out)
{
    encodeNeighbourRecord(info.neighbour, out);
    out.bytes(info.carried);
}

std::vector<std::uint8_t> encodePeerInfo(const PeerInfo& info)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodePeerInfo(info, out);
    return bytes;
}

std::optional<PeerInfo> parsePeerInfo(ByteReader& in)
{
    if (in.remaining() < PeerInfo::kSize)
        return std::nullopt;
    PeerInfo info;
    info.neighbour = *parseNeighbourRecord(in);
    info.carried = in.bytes<16>();
    return info;
}

void encodeSourceInfo(const SourceInfo& info, ByteWriter& out)
{
    out.bytes(info.digest);
    out.u32le(info.sizeLow);
    out.bytes(info.source);
}

std::optional<SourceInfo> parseSourceInfo(ByteReader& in)
{
    if (in.remaining() < SourceInfo::kSize)
        return std::nullopt;
    SourceInfo info;
    info.digest = in.bytes<16>();
    info.sizeLow = in.u32le();
    info.source = in.bytes<16>();
    return info;
}

} // namespace vandry
