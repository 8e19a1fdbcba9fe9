#pragma once
// HostRecord: how a copy describes itself on the wire (60 bytes), and NeighbourRecord:
// its entry in the neighbour table (76 bytes: the HostRecord and what we learnt locally).
//
// HostRecord layout (integers little-endian, addresses in network byte order):
//   0 identity[16]  16 MapAddr u32  20 MapPort u16  22 AgtPort u16  24 AgtAddr u32
//  28 primary LAN u32  32 secondary LAN u32  36 PortUDP u16  38 PortTCP u16
//  40 relay flag u8  41 unused u8  42 Loading[2]  44 Hosting (nickname) [16], zero-terminated
// NeighbourRecord appends:
//  60 direct address u32  64 observed address u32  68 observed port u16
//  70 datagram-only flag u8  71 unused u8  72 Actives (last seen, seconds) u32

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/identity.h"
#include "common/ipv4.h"

namespace vandry {

struct HostRecord {
    static constexpr std::size_t kSize = 60;
    static constexpr std::size_t kNicknameSize = 16;

    HostIdentity identity{};
    Ipv4 mapAddr = 0;
    std::uint16_t mapPort = 0;
    std::uint16_t agtPort = 0;
    Ipv4 agtAddr = 0;
    Ipv4 lanPrimary = 0;
    Ipv4 lanSecondary = 0;
    std::uint16_t portUdp = 0;
    std::uint16_t portTcp = 0;
    std::uint8_t relayFlag = 0;
    std::uint8_t unused41 = 0;
    std::array<std::uint8_t, 2> loading{};
    std::array<std::uint8_t, kNicknameSize> hosting{};

    std::string nickname() const;
    // Stores at most 15 bytes, never splitting a UTF-8 character, and a zero.
    void setNickname(std::string_view name);

    bool operator==(const HostRecord&) const = default;
};

struct NeighbourRecord {
    static constexpr std::size_t kSize = 76;

    HostRecord host;
    Ipv4 directAddr = 0;
    Ipv4 observedAddr = 0;
    std::uint16_t observedPort = 0;
    std::uint8_t datagramOnly = 0;
    std::uint8_t unused71 = 0;
    std::uint32_t lastSeen = 0; // 0 marks a free slot

    bool operator==(const NeighbourRecord&) const = default;
};

void encodeHostRecord(const HostRecord& record, ByteWriter& out);
std::vector<std::uint8_t> encodeHostRecord(const HostRecord& record);
// Reads one record; nullopt when fewer than 60 bytes are left.
std::optional<HostRecord> parseHostRecord(ByteReader& in);

void encodeNeighbourRecord(const NeighbourRecord& record, ByteWriter& out);
std::optional<NeighbourRecord> parseNeighbourRecord(ByteReader& in);

// The 120 lower-case hex digits in which task rows and history lines carry a HostRecord.
std::string hostRecordHex(const HostRecord& record);
std::optional<HostRecord> hostRecordFromHex(std::string_view hex);

} // namespace vandry
