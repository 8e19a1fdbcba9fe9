#pragma once
// The 12-byte header of every peer-link frame, on TCP and on the datagram transport alike,
// and the payload size each message may carry.
//
// Header (integers little-endian):
//   0 u16 length: the whole frame, header included, 12..65535
//   2 u8  type: 'A'..'I'         3 u8 sub: phase or sub-code within the type
//   4 u16 tag: 0, or the session tag in block frames rewritten in place (nobody checks it)
//   6 u8  reserved: 0, or flags in a map answer   7 u8 count: blocks asked for by a data request
//   8 u32 block: first block of a data request or answer
// The payload follows at offset 12.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/bytes.h"

namespace vandry {

struct FrameHeader {
    static constexpr std::size_t kSize = 12;
    static constexpr std::size_t kLengthOffset = 0;
    static constexpr std::size_t kTypeOffset = 2;
    static constexpr std::size_t kSubOffset = 3;
    static constexpr std::size_t kTagOffset = 4;
    static constexpr std::size_t kReservedOffset = 6;
    static constexpr std::size_t kCountOffset = 7;
    static constexpr std::size_t kBlockOffset = 8;

    std::uint16_t length = 0;
    std::uint8_t type = 0;
    std::uint8_t sub = 0;
    std::uint16_t tag = 0;
    std::uint8_t reserved = 0;
    std::uint8_t count = 0;
    std::uint32_t block = 0;

    bool operator==(const FrameHeader&) const = default;
};
static_assert(FrameHeader::kSize == 2 + 1 + 1 + 2 + 1 + 1 + 4);
static_assert(FrameHeader::kBlockOffset + 4 == FrameHeader::kSize);

// Both link buffers hold this many bytes, so no frame can be longer.
inline constexpr std::size_t kMaxFrameSize = 65535;
inline constexpr std::size_t kMaxFramePayload = kMaxFrameSize - FrameHeader::kSize;

// Message types ('F', 'G' and 'H' are not part of the set).
inline constexpr std::uint8_t kFrameHello = 'A';
inline constexpr std::uint8_t kFrameFile = 'B';
inline constexpr std::uint8_t kFrameFolder = 'C';
inline constexpr std::uint8_t kFrameBlockMap = 'D';
inline constexpr std::uint8_t kFrameBlocks = 'E';
inline constexpr std::uint8_t kFrameErrorReport = 'I';

// Sub-codes.
inline constexpr std::uint8_t kSubHello = 0;
inline constexpr std::uint8_t kSubHelloAck = 5;
inline constexpr std::uint8_t kSubFileRequest = 0;
inline constexpr std::uint8_t kSubFileAccepted = 1;
inline constexpr std::uint8_t kSubSmallFile = 3;
inline constexpr std::uint8_t kSubMapRequest = 0;
inline constexpr std::uint8_t kSubMapAnswer = 1;
inline constexpr std::uint8_t kSubBlockRequest = 0;
inline constexpr std::uint8_t kSubBlockData = 1;
inline constexpr std::uint8_t kSubErrorReport = 0;
// Folder negotiation ('C'): the requester starts (0), asks for the next folder (2) and for a
// folder's listing (4); the sharer accepts (1), names the folder (3) and lists it (5).
inline constexpr std::uint8_t kSubFolderStart = 0;
inline constexpr std::uint8_t kSubFolderAccepted = 1;
inline constexpr std::uint8_t kSubFolderNext = 2;
inline constexpr std::uint8_t kSubFolderName = 3;
inline constexpr std::uint8_t kSubFolderList = 4;
inline constexpr std::uint8_t kSubFolderListing = 5;

// Blocks asked for by one data request at most: their answer fills one frame (63 x 1024 bytes
// and the header stay below 65535). A sharer that keeps to one answer of `count` blocks per
// request serves any count up to this.
inline constexpr std::uint8_t kMaxBlocksPerRequest = 63;

// Set in the reserved byte of a map answer by a sharer that answers data requests in the order
// they came, however many are in flight. Peers that do not know it leave the byte unread.
inline constexpr std::uint8_t kFlagAnswersInOrder = 0x01;

void encodeFrameHeader(const FrameHeader& header, ByteWriter& out);
// Reads the first 12 bytes; nullopt when fewer are given. The length field is returned as it stands.
std::optional<FrameHeader> parseFrameHeader(ByteSpan frame);
// Writes all 12 header bytes in place; false (nothing written) when `frame` is shorter.
bool storeFrameHeader(MutableByteSpan frame, const FrameHeader& header);
// Writes offsets 0..6 (length, type, sub, a zero tag and reserved byte) and leaves count and block
// as they are: a data answer keeps the count and block of the request copied in before it.
bool storeFrameStart(MutableByteSpan frame, std::uint16_t length, std::uint8_t type, std::uint8_t sub);

// What a message may carry: `max` bytes at most (exactly, when `exact`), a multiple of `multiple`.
struct PayloadRule {
    std::uint16_t max = 0;
    bool exact = false;
    std::uint16_t multiple = 1;
};

// nullopt for types outside the message set, which take the refusal path whatever they carry.
// Subs of a known type that nobody handles may carry anything that fits a frame.
std::optional<PayloadRule> payloadRule(std::uint8_t type, std::uint8_t sub);
bool payloadAllowed(std::uint8_t type, std::uint8_t sub, std::size_t payloadLength);

} // namespace vandry
