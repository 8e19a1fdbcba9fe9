#pragma once
// Answers the requests (type 5) that neighbours send: share queries, folder listings and source
// lookups. The reply (type 6) repeats the request data, the replier's record in place of the
// requester's at payload offset 8, and appends the result.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "discovery/host_record.h"
#include "discovery/request_services.h"

namespace vandry {

// The room a share query may fill with its answer block.
inline constexpr std::size_t kQueryCapacity = 60000;

struct ServedRequest {
    HostRecord requester;            // the record the request carried at payload offset 8
    std::vector<std::uint8_t> reply; // the reply payload, this copy's record at offset 8
};

// nullopt when the request is invalid or gets no reply: a query whose result code is not 0 or
// whose answer block claims more than it could have written, a folder path that does not begin
// with "\", or a listing larger than the room it was given.
std::optional<ServedRequest> serveRequest(ByteSpan payload, RequestServices& services, const HostRecord& local);

// Every "\\" becomes "\", left to right in one pass.
std::string collapseDoubleSeparators(std::string_view path);

} // namespace vandry
