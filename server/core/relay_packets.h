#pragma once
// The two packets this server passes from one copy to another, rewritten on the way.
//
// Relayed request (control type 5, sub-type 0, from a copy that cannot reach the target itself):
//   payload 0 u16 payload length, 2 u8 kind, 3 u8 flags, 4 u32 parameter,
//           8 the requester's HostRecord with bytes 44-59 holding the TARGET's identity, 68 ...
//   Forwarded with sub-type 1, so that the target answers the requester and not us. The target
//   picks the requester's address from its own table and, failing that, falls back to the mapped
//   address in this record; the requester's own idea of its mapped address may be missing or stale,
//   so we write in the source we saw the request come from (record bytes 16-19 and 20-21): that is
//   the translator mapping the requester has just used.
//
// Reliable-transport call through a third party (UDT_RELAY, 0x80): a 16-byte header
//   0 u16 0xFF98, 2 u16 index, 4 u32 word (bits 0-13 payload length, 14-23 tag, 24-31 type), 8 u32, 12 u32
// and a 60-byte HostRecord of the caller whose bytes 44-59 hold the CALLEE's identity. It reaches the
// callee as UDT_CALL (8) with the caller's observed address and port in record bytes 16 and 20 and
// record byte 40 (the relay flag) set, so that the callee answers that address.

#include <cstdint>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "common/identity.h"
#include "common/ipv4.h"

namespace vandry {

struct RoutedPacket {
    HostIdentity destination; // the copy to deliver `bytes` to
    std::vector<std::uint8_t> bytes;
};

inline constexpr std::uint8_t kForwardedRequestSubType = 1;
inline constexpr std::uint8_t kUdtCall = 0x08;
inline constexpr std::uint8_t kUdtRelay = 0x80;

// nullopt unless `datagram` is a whole, valid relayed request (its length field equal to its payload).
std::optional<RoutedPacket> forwardRelayedRequest(ByteSpan datagram, Endpoint requester);
// nullopt unless `packet` is a UDT_RELAY of exactly 76 bytes whose length bits say 60.
std::optional<RoutedPacket> callFromRelay(ByteSpan packet, Endpoint caller);

} // namespace vandry
