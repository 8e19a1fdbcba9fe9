#pragma once
// Diagnostic lines that the endpoint appends to the event log while logging is on: the note on
// every reply to a relayed request and the status dump of the requester's record.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/ipv4.h"
#include "discovery/host_record.h"

namespace vandry {

// The eleven "Name: value\r\n" lines describing one neighbour record. The last-seen time is
// shown in local time, "-" when 0.
std::string statusDump(const NeighbourRecord& record);

// "SessionReply: ..." followed by "Conn=address:port" when the reply went to a chosen address or
// "Host=address:port" when it went to the requester's mapped address, then the requester's status
// dump. Host=%X is the requester identity's first four bytes, enough to tell records apart in one log.
std::string sessionReplyLog(std::size_t payloadLength, std::uint8_t type, std::uint8_t subType,
                            const NeighbourRecord& requester, std::optional<Endpoint> chosen);

} // namespace vandry
