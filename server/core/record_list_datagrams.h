#pragma once
// Record lists sent to copies (types 2 and 3), cut into datagrams that stay below a typical path
// MTU: at most 1200 bytes of payload and at most 32 records each. Each datagram's payload is
// LZW-compressed (byte 6 = 1, no plain prefix) when that makes it smaller; records compress to
// about 35 bytes, so a datagram usually carries 32 of them, and a run that does not compress
// enough is halved until it fits. The slot hint (bytes 4-5) is 0: this server knows nothing of the
// copies' table slots.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "discovery/control_datagram.h"
#include "discovery/host_record.h"

namespace vandry {

inline constexpr std::size_t kMaxRecordsPerDatagram = 32;
inline constexpr std::size_t kMaxListPayload = 1200;

// The records in order, in as few datagrams as the limits allow; none for an empty list.
std::vector<std::vector<std::uint8_t>> buildRecordListDatagrams(ControlType type, std::uint8_t subType,
                                                                std::span<const HostRecord> records);

} // namespace vandry
