#pragma once
// Control datagrams of the discovery endpoint: the 12-byte header and the payload forms.
//
// Header (integers little-endian, the address in network byte order):
//   0 u16 total length, header included
//   2 u8  type            3 u8 sub-type
//   4 u16 echo word on sending; mapped port in a server's type 0 reply; slot hint in types 2 and 3
//   6 u8  1 = payload compressed (types 2 and 3 only)
//   7 u8  number of leading payload bytes left uncompressed
//   8 u32 an IPv4 address whose meaning depends on the type, or 0
//
// Request (type 5) and reply (type 6) payload:
//   0 u16 payload length   2 u8 kind   3 u8 flags (kind 0)   4 u32 parameter
//   8 HostRecord (60 bytes)
//  68 kinds 0 and 1: zero-terminated text; kind 2: 36-byte file key
//
// Server list payload: 6-byte entries, u32 address (network order) and u16 port.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/ipv4.h"
#include "discovery/host_record.h"

namespace vandry {

enum class ControlType : std::uint8_t {
    ServerProbe = 0,
    Announce = 1,
    Records = 2,
    RecordsUpdate = 3,
    Request = 5,
    Reply = 6,
    Punch = 144,
    ServerRecords = 145,
    ServerList = 146,
    Echo = 147,
    Relay = 149, // relay_envelope.h
};

struct ControlDatagram {
    static constexpr std::size_t kSize = 12;
    // Reliable-transport packets share the socket and carry this in the length position.
    static constexpr std::uint16_t kReliableMarker = 0xFF98;
    static constexpr std::size_t kMaxSize = 65535;

    std::uint16_t length = 0;
    std::uint8_t type = 0;
    std::uint8_t subType = 0;
    std::uint16_t word = 0; // echo word, mapped port or slot hint, by type
    std::uint8_t compressed = 0;
    std::uint8_t plainPrefix = 0;
    Ipv4 address = 0;

    bool operator==(const ControlDatagram&) const = default;
};
static_assert(ControlDatagram::kSize == 2 + 1 + 1 + 2 + 1 + 1 + 4);

enum class DatagramClass { Control, ReliableTransport, Drop };

// A datagram is a control datagram when its length field equals its length (and it holds a whole
// header); a mismatch whose field reads the reliable-transport marker belongs to that transport.
DatagramClass classifyDatagram(ByteSpan datagram);

void encodeControlHeader(const ControlDatagram& header, ByteWriter& out);
// Reads the first 12 bytes; nullopt when the datagram is shorter.
std::optional<ControlDatagram> parseControlHeader(ByteSpan datagram);
// Header and payload with the length field set; nullopt when the result would exceed 65535 bytes.
std::optional<std::vector<std::uint8_t>> buildControlDatagram(ControlDatagram header, ByteSpan payload);

enum class RequestKind : std::uint8_t { ShareQuery = 0, FolderListing = 1, SourceLookup = 2 };

inline constexpr std::size_t kFileKeySize = 36;
using FileKey = std::array<std::uint8_t, kFileKeySize>;

struct RequestHeader {
    static constexpr std::size_t kSize = 68;

    std::uint16_t payloadLength = 0;
    std::uint8_t kind = 0;
    std::uint8_t flags = 0;
    std::uint32_t parameter = 0;
    HostRecord record;

    bool operator==(const RequestHeader&) const = default;
};
static_assert(RequestHeader::kSize == 2 + 1 + 1 + 4 + HostRecord::kSize);

// A request whose length field matched its data; `text` for kinds 0 and 1, `key` for kind 2.
struct Request {
    RequestHeader header;
    std::string text;
    FileKey key{};
};

void encodeRequestHeader(const RequestHeader& header, ByteWriter& out);
// Reads the first 68 payload bytes as they stand (replies reuse the header with other lengths).
std::optional<RequestHeader> parseRequestHeader(ByteSpan payload);

// The length field is computed. nullopt when the text holds a zero byte or the datagram would be too long.
std::optional<std::vector<std::uint8_t>> encodeTextRequest(RequestKind kind, std::uint8_t flags,
                                                           std::uint32_t parameter, const HostRecord& record,
                                                           std::string_view text);
std::vector<std::uint8_t> encodeKeyRequest(std::uint32_t parameter, const HostRecord& record, const FileKey& key);

// Validates a received request: the length field may not exceed the payload; kinds 0 and 1 need
// field == 69 + text length with the text's zero inside the field's range; kind 2 needs field == 104.
// Bytes after the field's range (where a reply carries its result) are not examined.
std::optional<Request> parseRequest(ByteSpan payload);

// A record list is one or more whole 60-byte records; anything else is refused.
std::optional<std::vector<HostRecord>> parseRecordList(ByteSpan payload);
std::vector<std::uint8_t> encodeRecordList(std::span<const HostRecord> records);

inline constexpr std::size_t kServerEntrySize = 6;
inline constexpr std::size_t kMaxServers = 8;
// The first eight whole entries; a trailing partial entry and entries beyond eight are ignored.
std::vector<Endpoint> parseServerList(ByteSpan payload);
std::vector<std::uint8_t> encodeServerList(std::span<const Endpoint> servers);

} // namespace vandry
