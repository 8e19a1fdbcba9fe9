#include "server/core/record_list_datagrams.h"

#include <algorithm>

#include "discovery/lzw.h"

namespace vandry {

namespace {
static_assert(HostRecord::kSize * (kMaxListPayload / HostRecord::kSize) <= kMaxListPayload);

void appendPacked(const ControlDatagram& header, std::span<const HostRecord> records,
                  std::vector<std::vector<std::uint8_t>>& out)
{
    const auto plain = encodeRecordList(records);
    const auto packed = lzwEncode(plain);
    const bool compress = packed.size() < plain.size();
    const ByteSpan payload = compress ? ByteSpan(packed) : ByteSpan(plain);
    if (payload.size() > kMaxListPayload && records.size() > 1) {
        const std::size_t half = records.size() / 2;
        appendPacked(header, records.first(half), out);
        appendPacked(header, records.subspan(half), out);
        return;
    }
    ControlDatagram withFlag = header;
    withFlag.compressed = compress ? 1 : 0;
    // At most 32 records, or one: always within a datagram's 65535.
    out.push_back(*buildControlDatagram(withFlag, payload));
}
} // namespace

std::vector<std::vector<std::uint8_t>> buildRecordListDatagrams(ControlType type, std::uint8_t subType,
                                                                std::span<const HostRecord> records)
{
    ControlDatagram header;
    header.type = static_cast<std::uint8_t>(type);
    header.subType = subType;
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (std::size_t first = 0; first < records.size(); first += kMaxRecordsPerDatagram)
        appendPacked(header, records.subspan(first, std::min(kMaxRecordsPerDatagram, records.size() - first)),
                     datagrams);
    return datagrams;
}

} // namespace vandry
