#include "discovery/host_record.h"

#include "common/hex.h"
#include "common/text.h"

namespace vandry {

std::string HostRecord::nickname() const
{
    return fixedFieldText(hosting);
}

void HostRecord::setNickname(std::string_view name)
{
    storeFixedFieldText(hosting, name);
}

void encodeHostRecord(const HostRecord& r, ByteWriter& out)
{
    out.bytes(r.identity);
    out.ipv4(r.mapAddr);
    out.u16le(r.mapPort);
    out.u16le(r.agtPort);
    out.ipv4(r.agtAddr);
    out.ipv4(r.lanPrimary);
    out.ipv4(r.lanSecondary);
    out.u16le(r.portUdp);
    out.u16le(r.portTcp);
    out.u8(r.relayFlag);
    out.u8(r.unused41);
    out.bytes(r.loading);
    out.bytes(r.hosting);
}

std::vector<std::uint8_t> encodeHostRecord(const HostRecord& record)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeHostRecord(record, out);
    return bytes;
}

std::optional<HostRecord> parseHostRecord(ByteReader& in)
{
    if (in.remaining() < HostRecord::kSize)
        return std::nullopt;
    HostRecord r;
    r.identity = in.bytes<16>();
    r.mapAddr = in.ipv4();
    r.mapPort = in.u16le();
    r.agtPort = in.u16le();
    r.agtAddr = in.ipv4();
    r.lanPrimary = in.ipv4();
    r.lanSecondary = in.ipv4();
    r.portUdp = in.u16le();
    r.portTcp = in.u16le();
    r.relayFlag = in.u8();
    r.unused41 = in.u8();
    r.loading = in.bytes<2>();
    r.hosting = in.bytes<HostRecord::kNicknameSize>();
    return r;
}

void encodeNeighbourRecord(const NeighbourRecord& r, ByteWriter& out)
{
    encodeHostRecord(r.host, out);
    out.ipv4(r.directAddr);
    out.ipv4(r.observedAddr);
    out.u16le(r.observedPort);
    out.u8(r.datagramOnly);
    out.u8(r.unused71);
    out.u32le(r.lastSeen);
}

std::optional<NeighbourRecord> parseNeighbourRecord(ByteReader& in)
{
    if (in.remaining() < NeighbourRecord::kSize)
        return std::nullopt;
    NeighbourRecord r;
    r.host = *parseHostRecord(in);
    r.directAddr = in.ipv4();
    r.observedAddr = in.ipv4();
    r.observedPort = in.u16le();
    r.datagramOnly = in.u8();
    r.unused71 = in.u8();
    r.lastSeen = in.u32le();
    return r;
}

std::string hostRecordHex(const HostRecord& record)
{
    return hexEncode(encodeHostRecord(record));
}

std::optional<HostRecord> hostRecordFromHex(std::string_view hex)
{
    auto bytes = hexDecode(hex, HostRecord::kSize);
    if (!bytes)
        return std::nullopt;
    ByteReader in(*bytes);
    return parseHostRecord(in);
}

} // namespace vandry
