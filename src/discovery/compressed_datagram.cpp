#include "discovery/compressed_datagram.h"

#include <algorithm>

#include "discovery/control_datagram.h"

namespace vandry {

LzwStatus expandCompressedDatagram(std::vector<std::uint8_t>& datagram, std::size_t capacity)
{
    const auto header = parseControlHeader(datagram);
    if (!header)
        return LzwStatus::Corrupt;
    if (header->compressed != 1)
        return LzwStatus::Ok;
    const std::size_t keep = ControlDatagram::kSize + header->plainPrefix;
    if (keep > datagram.size())
        return LzwStatus::Corrupt;
    const std::size_t limit = std::min(capacity, ControlDatagram::kMaxSize);
    if (keep > limit)
        return LzwStatus::Overflow;
    auto expanded = lzwDecode(ByteSpan(datagram).subspan(keep), limit - keep);
    if (expanded.status != LzwStatus::Ok)
        return expanded.status;
    datagram.resize(keep);
    datagram.insert(datagram.end(), expanded.bytes.begin(), expanded.bytes.end());
    storeU16le(datagram, 0, static_cast<std::uint16_t>(datagram.size()));
    datagram[6] = 0;
    return LzwStatus::Ok;
}

} // namespace vandry
