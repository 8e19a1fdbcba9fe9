#pragma once
// The reliable datagram transport's packets: a 16-byte header and a payload, on the discovery
// socket beside the control datagrams, told apart by the magic 0xFF98 in their first u16.
//
// Header (little-endian):
//    0 u16 magic 0xFF98
//    2 u16 index: low byte the receiver's connection index, high byte the sender's own
//    4 u32 word: bits 0-13 payload length, bits 14-23 connection tag, bits 24-31 packet type
//    8 u32 offset: stream offset of the first payload byte in the sender's outgoing stream
//   12 u32 ack: the sender's receive position in the receiver's stream
//
// Handshake packets carry a 60-byte record: the caller's HostRecord with bytes 44-59 holding the
// callee's identity (call, answer, relay) or the connection id (confirm, accept), byte 40 set
// when the call came through a third party, and bytes 16/20 the address a relaying party saw
// the caller at.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/bytes.h"
#include "common/identity.h"
#include "common/ipv4.h"

namespace vandry {

enum class UdtType : std::uint8_t {
    UDT_DATA = 0,
    UDT_PUSH = 1,
    UDT_PROBE = 2,
    UDT_RESEND = 3,
    UDT_CALL = 8,
    UDT_CONFIRM = 0x10,
    UDT_ANSWER = 0x28,
    UDT_ACCEPT = 0x30,
    UDT_RESET = 0x50,
    UDT_RELAY = 0x80,
};

struct UdtHeader {
    static constexpr std::size_t kSize = 16;
    static constexpr std::uint16_t kMagic = 0xFF98;
    static constexpr std::uint32_t kMaxPayload = 0x3FFF;
    static constexpr std::uint16_t kTagMask = 0x3FF;

    std::uint16_t index = 0;
    std::uint16_t payloadLength = 0;
    std::uint16_t tag = 0;
    UdtType type = UdtType::UDT_DATA;
    std::uint32_t offset = 0;
    std::uint32_t ack = 0;

    std::uint8_t receiverIndex() const { return static_cast<std::uint8_t>(index); }
    std::uint8_t senderIndex() const { return static_cast<std::uint8_t>(index >> 8); }
};

struct UdtPacket {
    UdtHeader header;
    ByteSpan payload;
};

// Writes the 16 header bytes at the start of `out`, which must hold at least 16 bytes.
void writeUdtHeader(const UdtHeader& header, MutableByteSpan out);
// Reads a packet; nullopt when it is shorter than a header or does not carry the magic. The
// length bits are returned as read: the receiver checks them against the payload it got.
std::optional<UdtPacket> parseUdtPacket(ByteSpan datagram);

// The 60-byte record of the handshake packets.
struct HandshakeRecord {
    static constexpr std::size_t kSize = 60;
    static constexpr std::size_t kKeyOffset = 44;
    static constexpr std::size_t kRelayFlagOffset = 40;
    static constexpr std::size_t kMappedAddressOffset = 16;
    static constexpr std::size_t kMappedPortOffset = 20;

    std::array<std::uint8_t, kSize> bytes{};

    HostIdentity key() const;
    void setKey(const HostIdentity& key);
    bool relayed() const { return bytes[kRelayFlagOffset] == 1; }
    void setRelayed(bool relayed) { bytes[kRelayFlagOffset] = relayed ? 1 : 0; }
    Endpoint mapped() const;
    void setMapped(Endpoint endpoint);
};

std::optional<HandshakeRecord> parseHandshakeRecord(ByteSpan payload);

} // namespace vandry
