#pragma once
// A datagram carried between two copies by a rendezvous server, for copies whose translators give
// every flow a port of its own so that neither can reach the other directly.
//
// Envelope (control type 149), integers little-endian:
//   0 u16 total length, header included   2 u8 149   3 u8 sub-type: 0 copy to server, 1 server to copy
//   4 u16 the copy's echo word, not read   6 u8 0   7 u8 0   8 u32 0
//  12 16-byte identity of the sender
//  28 16-byte identity of the receiver
//  44 the inner datagram, whole: a request, a reply or a reliable-transport packet
// The server passes it on unchanged but for the sub-type, once it has found the sender registered
// at exactly the address and port the envelope came from: what arrives is never larger than what
// was sent, and the sender's identity in a delivered envelope is one the server checked.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <tuple>
#include <vector>

#include "common/bytes.h"
#include "common/identity.h"
#include "discovery/control_datagram.h"

namespace vandry {

struct RelayEnvelope {
    static constexpr std::size_t kOverhead = ControlDatagram::kSize + 2 * std::tuple_size_v<HostIdentity>;
    static constexpr std::size_t kMaxInner = ControlDatagram::kMaxSize - kOverhead;
    static constexpr std::uint8_t kToServer = 0;
    static constexpr std::uint8_t kFromServer = 1;

    std::uint8_t subType = kToServer;
    HostIdentity sender{};
    HostIdentity receiver{};
    ByteSpan inner; // points into the parsed datagram
};

// The envelope's payload (its bytes from 12 on), for a sender that writes the header itself;
// nullopt when the inner datagram is empty or longer than kMaxInner.
std::optional<std::vector<std::uint8_t>> encodeRelayEnvelopePayload(const HostIdentity& sender,
                                                                    const HostIdentity& receiver, ByteSpan inner);
// The whole envelope; nullopt as above.
std::optional<std::vector<std::uint8_t>> encodeRelayEnvelope(std::uint8_t subType, const HostIdentity& sender,
                                                             const HostIdentity& receiver, ByteSpan inner);
// nullopt unless `datagram` is a whole envelope: its length field equal to its size, a known
// sub-type and a non-empty inner datagram.
std::optional<RelayEnvelope> parseRelayEnvelope(ByteSpan datagram);

} // namespace vandry
