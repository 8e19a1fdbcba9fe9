#include "discovery/control_datagram.h"

#include <algorithm>

namespace vandry {

namespace {
constexpr std::size_t kTextRequestOverhead = RequestHeader::kSize + 1; // header and the text's zero
constexpr std::size_t kKeyRequestSize = RequestHeader::kSize + kFileKeySize;
constexpr std::size_t kMaxPayload = ControlDatagram::kMaxSize - ControlDatagram::kSize;
} // namespace

DatagramClass classifyDatagram(ByteSpan datagram)
{
    if (datagram.size() < 2)
        return DatagramClass::Drop;
    const std::uint16_t field = loadU16le(datagram, 0);
    if (field == datagram.size())
        return datagram.size() >= ControlDatagram::kSize ? DatagramClass::Control : DatagramClass::Drop;
    return field == ControlDatagram::kReliableMarker ? DatagramClass::ReliableTransport : DatagramClass::Drop;
}

void encodeControlHeader(const ControlDatagram& h, ByteWriter& out)
{
    out.u16le(h.length);
    out.u8(h.type);
    out.u8(h.subType);
    out.u16le(h.word);
    out.u8(h.compressed);
    out.u8(h.plainPrefix);
    out.ipv4(h.address);
}

std::optional<ControlDatagram> parseControlHeader(ByteSpan datagram)
{
    ByteReader in(datagram);
    ControlDatagram h;
    h.length = in.u16le();
    h.type = in.u8();
    h.subType = in.u8();
    h.word = in.u16le();
    h.compressed = in.u8();
    h.plainPrefix = in.u8();
    h.address = in.ipv4();
    if (!in.ok())
        return std::nullopt;
    return h;
}

std::optional<std::vector<std::uint8_t>> buildControlDatagram(ControlDatagram header, ByteSpan payload)
{
    if (payload.size() > kMaxPayload)
        return std::nullopt;
    header.length = static_cast<std::uint16_t>(ControlDatagram::kSize + payload.size());
    std::vector<std::uint8_t> bytes;
    bytes.reserve(header.length);
    ByteWriter out(bytes);
    encodeControlHeader(header, out);
    out.bytes(payload);
    return bytes;
}

void encodeRequestHeader(const RequestHeader& h, ByteWriter& out)
{
    out.u16le(h.payloadLength);
    out.u8(h.kind);
    out.u8(h.flags);
    out.u32le(h.parameter);
    encodeHostRecord(h.record, out);
}

std::optional<RequestHeader> parseRequestHeader(ByteSpan payload)
{
    ByteReader in(payload);
    RequestHeader h;
    h.payloadLength = in.u16le();
    h.kind = in.u8();
    h.flags = in.u8();
    h.parameter = in.u32le();
    auto record = parseHostRecord(in);
    if (!in.ok() || !record)
        return std::nullopt;
    h.record = *record;
    return h;
}

std::optional<std::vector<std::uint8_t>> encodeTextRequest(RequestKind kind, std::uint8_t flags,
                                                           std::uint32_t parameter, const HostRecord& record,
                                                           std::string_view text)
{
    if (text.find('\0') != std::string_view::npos || text.size() > kMaxPayload - kTextRequestOverhead)
        return std::nullopt;
    const RequestHeader header{static_cast<std::uint16_t>(kTextRequestOverhead + text.size()),
                               static_cast<std::uint8_t>(kind), flags, parameter, record};
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeRequestHeader(header, out);
    out.bytes(ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    out.u8(0);
    return bytes;
}

std::vector<std::uint8_t> encodeKeyRequest(std::uint32_t parameter, const HostRecord& record, const FileKey& key)
{
    const RequestHeader header{static_cast<std::uint16_t>(kKeyRequestSize),
                               static_cast<std::uint8_t>(RequestKind::SourceLookup), 0, parameter, record};
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeRequestHeader(header, out);
    out.bytes(key);
    return bytes;
}

std::optional<Request> parseRequest(ByteSpan payload)
{
    auto header = parseRequestHeader(payload);
    if (!header || header->payloadLength > payload.size() || header->payloadLength < RequestHeader::kSize)
        return std::nullopt;
    const ByteSpan data = payload.subspan(RequestHeader::kSize, header->payloadLength - RequestHeader::kSize);
    Request request{*header, {}, {}};
    switch (static_cast<RequestKind>(header->kind)) {
    case RequestKind::ShareQuery:
    case RequestKind::FolderListing: {
        const auto zero = std::find(data.begin(), data.end(), std::uint8_t{0});
        // The text's zero must be the last byte the length field covers.
        if (zero == data.end() || zero + 1 != data.end())
            return std::nullopt;
        request.text.assign(data.begin(), zero);
        return request;
    }
    case RequestKind::SourceLookup:
        if (header->payloadLength != kKeyRequestSize)
            return std::nullopt;
        std::copy(data.begin(), data.end(), request.key.begin());
        return request;
    }
    return std::nullopt;
}

std::optional<std::vector<HostRecord>> parseRecordList(ByteSpan payload)
{
    if (payload.empty() || payload.size() % HostRecord::kSize != 0)
        return std::nullopt;
    std::vector<HostRecord> records;
    records.reserve(payload.size() / HostRecord::kSize);
    ByteReader in(payload);
    while (in.remaining() > 0) {
        auto record = parseHostRecord(in);
        if (!record)
            return std::nullopt;
        records.push_back(*record);
    }
    return records;
}

std::vector<std::uint8_t> encodeRecordList(std::span<const HostRecord> records)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(records.size() * HostRecord::kSize);
    ByteWriter out(bytes);
    for (const auto& record : records)
        encodeHostRecord(record, out);
    return bytes;
}

std::vector<Endpoint> parseServerList(ByteSpan payload)
{
    const std::size_t count = std::min(payload.size() / kServerEntrySize, kMaxServers);
    std::vector<Endpoint> servers;
    servers.reserve(count);
    ByteReader in(payload);
    for (std::size_t i = 0; i < count; ++i) {
        Endpoint server;
        server.address = in.ipv4();
        server.port = in.u16le();
        servers.push_back(server);
    }
    return servers;
}

std::vector<std::uint8_t> encodeServerList(std::span<const Endpoint> servers)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    for (const auto& server : servers) {
        out.ipv4(server.address);
        out.u16le(server.port);
    }
    return bytes;
}

} // namespace vandry
