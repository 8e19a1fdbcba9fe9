#include "server/core/relay_packets.h"

#include <algorithm>

#include "discovery/control_datagram.h"
#include "discovery/host_record.h"

namespace vandry {

namespace {
constexpr std::size_t kRequestRecordAt = ControlDatagram::kSize + 8;
constexpr std::size_t kUdtHeaderSize = 16;
constexpr std::size_t kUdtRecordAt = kUdtHeaderSize;
constexpr std::size_t kUdtRelaySize = kUdtHeaderSize + HostRecord::kSize;
constexpr std::uint32_t kUdtLengthMask = 0x3FFF;
// Offsets inside a HostRecord.
constexpr std::size_t kMapAddrAt = 16;
constexpr std::size_t kMapPortAt = 20;
constexpr std::size_t kRelayFlagAt = 40;
constexpr std::size_t kNicknameAt = 44;

void storeMappedEndpoint(MutableByteSpan record, Endpoint endpoint)
{
    for (std::size_t i = 0; i < 4; ++i)
        record[kMapAddrAt + i] = static_cast<std::uint8_t>(endpoint.address >> (24 - 8 * i));
    storeU16le(record, kMapPortAt, endpoint.port);
}

HostIdentity identityInNickname(ByteSpan record)
{
    HostIdentity identity{};
    std::copy_n(record.begin() + kNicknameAt, identity.size(), identity.begin());
    return identity;
}
} // namespace

std::optional<RoutedPacket> forwardRelayedRequest(ByteSpan datagram, Endpoint requester)
{
    const auto header = parseControlHeader(datagram);
    if (!header || header->length != datagram.size() ||
        header->type != static_cast<std::uint8_t>(ControlType::Request) || header->subType != 0)
        return std::nullopt;
    const ByteSpan payload = datagram.subspan(ControlDatagram::kSize);
    const auto request = parseRequest(payload);
    if (!request || request->header.payloadLength != payload.size())
        return std::nullopt;
    RoutedPacket out{request->header.record.hosting, std::vector<std::uint8_t>(datagram.begin(), datagram.end())};
    out.bytes[3] = kForwardedRequestSubType;
    storeMappedEndpoint(MutableByteSpan(out.bytes).subspan(kRequestRecordAt, HostRecord::kSize), requester);
    return out;
}

std::optional<RoutedPacket> callFromRelay(ByteSpan packet, Endpoint caller)
{
    if (packet.size() != kUdtRelaySize)
        return std::nullopt;
    ByteReader in(packet);
    const std::uint16_t magic = in.u16le();
    in.skip(2);
    const std::uint32_t word = in.u32le();
    if (magic != ControlDatagram::kReliableMarker || (word >> 24) != kUdtRelay ||
        (word & kUdtLengthMask) != HostRecord::kSize)
        return std::nullopt;
    RoutedPacket out{identityInNickname(packet.subspan(kUdtRecordAt)),
                     std::vector<std::uint8_t>(packet.begin(), packet.end())};
    out.bytes[7] = kUdtCall;
    const MutableByteSpan record = MutableByteSpan(out.bytes).subspan(kUdtRecordAt);
    storeMappedEndpoint(record, caller);
    record[kRelayFlagAt] = 1;
    return out;
}

} // namespace vandry
