#pragma once
// ListingRecord: one entry of a folder listing. A listing is records laid end to end with no
// padding; its length travels beside it. Little-endian:
//    0  u16  length: from offset 0 up to and including the name's terminating zero
//    2  u8   type: bits 0-1 kind (0 file, 1 folder); bits 2-3 value 1 marks a header record;
//            bits 4-7 digest state (0 no digest field, 1 digest present, 2 field present but
//            no digest known)
//    3  u8   mark: in a fresh listing 1 on the last record of a folder listed to its end; in a
//            folder task's cache 0x40 handed out, 0x80 done, anything else pending
//    4  4    reserved
//    8  u64  size in bytes (folders 0)
//   16  16   digest (MD5 of the first min(size, 5 MiB) bytes), only when the digest state is not 0
//   16 or 32 name, zero-terminated
// A header record (type 5) names the folder the records after it belong to, relative to the
// sharer's share root in wire form ("\music\live\").
// A record whose length is below 17, that runs past the end of the listing, or whose name has no
// terminating zero inside the record is malformed: it ends every walk over the listing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/md5.h"

namespace vandry {

inline constexpr std::size_t kListingFixedSize = 16;
inline constexpr std::size_t kListingDigestSize = 16;
inline constexpr std::size_t kListingMarkOffset = 3;

inline constexpr std::uint8_t kKindFile = 0;
inline constexpr std::uint8_t kKindFolder = 1;
inline constexpr std::uint8_t kHeaderType = 5;
inline constexpr std::uint8_t kDigestPresent = 1;
inline constexpr std::uint8_t kDigestUnknown = 2;

inline constexpr std::uint8_t kMarkLast = 1;
inline constexpr std::uint8_t kMarkHandedOut = 0x40;
inline constexpr std::uint8_t kMarkDone = 0x80;

struct ListingRecord {
    std::uint8_t type = 0;
    std::uint8_t mark = 0;
    std::array<std::uint8_t, 4> reserved{};
    std::uint64_t size = 0;
    Md5Digest digest{}; // meaningful when the digest state is 1
    std::string name;

    std::uint8_t kind() const { return type & 3; }
    bool isHeader() const { return (type & 0x0C) == 4; }
    bool hasHeaderBits() const { return (type & 0x0C) != 0; }
    bool isFile() const { return kind() == kKindFile && !hasHeaderBits(); }
    std::uint8_t digestState() const { return type >> 4; }
    bool hasDigestField() const { return digestState() != 0; }
    std::size_t encodedSize() const
    {
        return kListingFixedSize + (hasDigestField() ? kListingDigestSize : 0) + name.size() + 1;
    }

    bool operator==(const ListingRecord&) const = default;
};

// Writes the record with its length field; the caller keeps names short enough for 16 bits.
void encodeListingRecord(const ListingRecord& record, ByteWriter& out);

struct ParsedListingRecord {
    ListingRecord record;
    std::size_t length = 0; // the next record starts this many bytes further on
};

// The record at the start of `bytes` (the rest of a listing); nullopt when it is malformed.
std::optional<ParsedListingRecord> parseListingRecord(ByteSpan bytes);

// Calls visit(offset, record) for each record from the start of `listing` while it returns true;
// a malformed record ends the walk.
template <typename Visit> void forEachListingRecord(ByteSpan listing, Visit&& visit)
{
    std::size_t offset = 0;
    while (offset < listing.size()) {
        const auto parsed = parseListingRecord(listing.subspan(offset));
        if (!parsed || !visit(offset, parsed->record))
            return;
        offset += parsed->length;
    }
}

} // namespace vandry
