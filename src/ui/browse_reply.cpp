#include "ui/browse_reply.h"

#include "common/text.h"
#include "store/listing_record.h"

namespace vandry {

namespace {
constexpr std::size_t kPathOffset = 68;

std::vector<BrowseEntry> walkRecords(ByteSpan listing)
{
    std::vector<BrowseEntry> entries;
    forEachListingRecord(listing, [&entries](std::size_t, const ListingRecord& record) {
        if (!record.hasHeaderBits())
            entries.push_back({record.name, record.kind() != kKindFile, record.size});
        return record.mark != kMarkLast;
    });
    return entries;
}
} // namespace

std::optional<BrowseReply> parseBrowseReply(ByteSpan payload)
{
    ByteReader in(payload);
    const std::size_t headerLength = in.u16le();
    in.skip(2);
    BrowseReply reply;
    reply.row = static_cast<std::int32_t>(in.u32le());
    const auto host = parseHostRecord(in);
    if (!in.ok() || !host || headerLength < kPathOffset || headerLength > payload.size())
        return std::nullopt;
    reply.host = *host;
    reply.path = fixedFieldText(payload.subspan(kPathOffset, headerLength - kPathOffset));
    reply.entries = walkRecords(payload.subspan(headerLength));
    return reply;
}

} // namespace vandry
