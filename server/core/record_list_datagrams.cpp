#include "server/core/record_list_datagrams.h"

#include <algorithm>

#include "discovery/lzw.h"

namespace vandry {

namespace {
std::vector<std::uint8_t> buildOne(ControlDatagram header, std::span<const HostRecord> records)
{
    const auto plain = encodeRecordList(records);
    const auto packed = lzwEncode(plain);
    const bool compress = packed.size() < plain.size();
    header.compressed = compress ? 1 : 0;
    // At most 1200 bytes of records: always within a datagram's 65535.
    return *buildControlDatagram(header, compress ? ByteSpan(packed) : ByteSpan(plain));
}
} // namespace

std::vector<std::vector<std::uint8_t>> buildRecordListDatagrams(ControlType type, std::uint8_t subType,
                                                                std::span<const HostRecord> records)
{
    ControlDatagram header;
    header.type = static_cast<std::uint8_t>(type);
    header.subType = subType;
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (std::size_t first = 0; first < records.size(); first += kRecordsPerDatagram) {
        const std::size_t count = std::min(kRecordsPerDatagram, records.size() - first);
        datagrams.push_back(buildOne(header, records.subspan(first, count)));
    }
    return datagrams;
}

} // namespace vandry
