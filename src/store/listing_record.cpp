#include "store/listing_record.h"

#include <algorithm>

namespace vandry {

void encodeListingRecord(const ListingRecord& record, ByteWriter& out)
{
    out.u16le(static_cast<std::uint16_t>(record.encodedSize()));
    out.u8(record.type);
    out.u8(record.mark);
    out.bytes(record.reserved);
    out.u64le(record.size);
    if (record.hasDigestField())
        out.bytes(record.digest);
    out.bytes(asBytes(record.name));
    out.u8(0);
}

std::optional<ParsedListingRecord> parseListingRecord(ByteSpan bytes)
{
    ByteReader in(bytes);
    const std::size_t length = in.u16le();
    if (!in.ok() || length < kListingFixedSize + 1 || length > bytes.size())
        return std::nullopt;
    ParsedListingRecord parsed{{}, length};
    auto& record = parsed.record;
    record.type = in.u8();
    record.mark = in.u8();
    record.reserved = in.bytes<4>();
    record.size = in.u64le();
    if (record.hasDigestField())
        record.digest = in.bytes<kListingDigestSize>();
    const std::size_t nameAt = in.position();
    if (!in.ok() || nameAt >= length)
        return std::nullopt;
    const auto name = bytes.subspan(nameAt, length - nameAt);
    const auto zero = std::find(name.begin(), name.end(), std::uint8_t{0});
    if (zero == name.end())
        return std::nullopt;
    record.name.assign(name.begin(), zero);
    return parsed;
}

} // namespace vandry
