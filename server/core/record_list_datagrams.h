#pragma once
// Record lists sent to copies (types 2 and 3), cut into datagrams that stay below a typical path
// MTU: 20 records, 1200 bytes of payload, per datagram. Each datagram's payload is LZW-compressed
// (byte 6 = 1, no plain prefix) when that makes it smaller. The slot hint (bytes 4-5) is 0: this
// server knows nothing of the copies' table slots.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "discovery/control_datagram.h"
#include "discovery/host_record.h"

namespace vandry {

inline constexpr std::size_t kRecordsPerDatagram = 20;

// One datagram per 20 records, in order; none for an empty list.
std::vector<std::vector<std::uint8_t>> buildRecordListDatagrams(ControlType type, std::uint8_t subType,
                                                                std::span<const HostRecord> records);

} // namespace vandry
