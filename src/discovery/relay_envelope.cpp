#include "discovery/relay_envelope.h"

namespace vandry {

std::optional<std::vector<std::uint8_t>> encodeRelayEnvelopePayload(const HostIdentity& sender,
                                                                    const HostIdentity& receiver, ByteSpan inner)
{
    if (inner.empty() || inner.size() > RelayEnvelope::kMaxInner)
        return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(RelayEnvelope::kOverhead - ControlDatagram::kSize + inner.size());
    ByteWriter writer(out);
    writer.bytes(sender);
    writer.bytes(receiver);
    writer.bytes(inner);
    return out;
}

std::optional<std::vector<std::uint8_t>> encodeRelayEnvelope(std::uint8_t subType, const HostIdentity& sender,
                                                             const HostIdentity& receiver, ByteSpan inner)
{
    const auto payload = encodeRelayEnvelopePayload(sender, receiver, inner);
    if (!payload)
        return std::nullopt;
    ControlDatagram header;
    header.type = static_cast<std::uint8_t>(ControlType::Relay);
    header.subType = subType;
    return buildControlDatagram(header, *payload);
}

std::optional<RelayEnvelope> parseRelayEnvelope(ByteSpan datagram)
{
    const auto header = parseControlHeader(datagram);
    if (!header || header->length != datagram.size() || datagram.size() <= RelayEnvelope::kOverhead ||
        header->type != static_cast<std::uint8_t>(ControlType::Relay) ||
        (header->subType != RelayEnvelope::kToServer && header->subType != RelayEnvelope::kFromServer))
        return std::nullopt;
    ByteReader in(datagram.subspan(ControlDatagram::kSize));
    RelayEnvelope envelope;
    envelope.subType = header->subType;
    envelope.sender = in.bytes<std::tuple_size_v<HostIdentity>>();
    envelope.receiver = in.bytes<std::tuple_size_v<HostIdentity>>();
    envelope.inner = datagram.subspan(RelayEnvelope::kOverhead);
    return envelope;
}

} // namespace vandry
