#include "udt/udt_packet.h"

#include <algorithm>

namespace vandry {

namespace {
constexpr unsigned kTagShift = 14;
constexpr unsigned kTypeShift = 24;

void storeU32le(MutableByteSpan out, std::size_t at, std::uint32_t v)
{
    storeU16le(out, at, static_cast<std::uint16_t>(v));
    storeU16le(out, at + 2, static_cast<std::uint16_t>(v >> 16));
}
} // namespace

void writeUdtHeader(const UdtHeader& h, MutableByteSpan out)
{
    const std::uint32_t word = (h.payloadLength & UdtHeader::kMaxPayload) |
                               (static_cast<std::uint32_t>(h.tag & UdtHeader::kTagMask) << kTagShift) |
                               (std::uint32_t{static_cast<std::uint8_t>(h.type)} << kTypeShift);
    storeU16le(out, 0, UdtHeader::kMagic);
    storeU16le(out, 2, h.index);
    storeU32le(out, 4, word);
    storeU32le(out, 8, h.offset);
    storeU32le(out, 12, h.ack);
}

std::optional<UdtPacket> parseUdtPacket(ByteSpan datagram)
{
    ByteReader in(datagram);
    const std::uint16_t magic = in.u16le();
    UdtHeader h;
    h.index = in.u16le();
    const std::uint32_t word = in.u32le();
    h.offset = in.u32le();
    h.ack = in.u32le();
    if (!in.ok() || magic != UdtHeader::kMagic)
        return std::nullopt;
    h.payloadLength = static_cast<std::uint16_t>(word & UdtHeader::kMaxPayload);
    h.tag = static_cast<std::uint16_t>((word >> kTagShift) & UdtHeader::kTagMask);
    h.type = static_cast<UdtType>(word >> kTypeShift);
    return UdtPacket{h, datagram.subspan(UdtHeader::kSize)};
}

HostIdentity HandshakeRecord::key() const
{
    HostIdentity key;
    std::copy_n(bytes.begin() + kKeyOffset, key.size(), key.begin());
    return key;
}

void HandshakeRecord::setKey(const HostIdentity& key)
{
    std::copy(key.begin(), key.end(), bytes.begin() + kKeyOffset);
}

Endpoint HandshakeRecord::mapped() const
{
    ByteReader in(ByteSpan(bytes).subspan(kMappedAddressOffset));
    const Ipv4 address = in.ipv4();
    const std::uint16_t port = in.u16le();
    return {address, port};
}

void HandshakeRecord::setMapped(Endpoint endpoint)
{
    std::vector<std::uint8_t> field;
    ByteWriter w(field);
    w.ipv4(endpoint.address);
    w.u16le(endpoint.port);
    std::copy(field.begin(), field.end(), bytes.begin() + kMappedAddressOffset);
}

std::optional<HandshakeRecord> parseHandshakeRecord(ByteSpan payload)
{
    if (payload.size() != HandshakeRecord::kSize)
        return std::nullopt;
    HandshakeRecord record;
    std::copy(payload.begin(), payload.end(), record.bytes.begin());
    return record;
}

} // namespace vandry
