#pragma once
// A folder listing as a neighbour answers a browse request (a type 6 reply of kind 1):
//    0 u16 header length: the listing records start there   2 u8 kind   3 u8 flags
//    4 i32 the row the request carried (the file-list item the listing goes under, or -1)
//    8 the replier's HostRecord (60)   68 the requested folder path, zero-terminated
// then listing records without digests (store/listing_record.h); a browse shows the records up
// to the one marked 1, the last of a folder listed to its end.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "discovery/host_record.h"

namespace vandry {

struct BrowseEntry {
    std::string name; // as the sharer sent it
    bool directory = false;
    std::uint64_t size = 0;
    bool operator==(const BrowseEntry&) const = default;
};

struct BrowseReply {
    std::int32_t row = -1;
    HostRecord host;
    std::string path;
    std::vector<BrowseEntry> entries; // listing order
};

// nullopt when the header is cut or its length field lies outside the payload. The record walk
// ends after the record marked 1 and before a malformed record; header records are passed over.
std::optional<BrowseReply> parseBrowseReply(ByteSpan payload);

} // namespace vandry
