#include "link/frame.h"

namespace vandry {

namespace {

constexpr PayloadRule exactly(std::uint16_t size)
{
    return {size, true, 1};
}
constexpr PayloadRule atMost(std::uint16_t size, std::uint16_t multiple = 1)
{
    return {size, false, multiple};
}

constexpr std::uint16_t kHelloPayload = 92;    // HostRecord and the 32-byte tail of a PeerInfo
constexpr std::uint16_t kRequestPayload = 584; // TaskRecord
constexpr std::uint16_t kSmallFilePayload = 1024;
constexpr std::uint16_t kMapPayload = 512; // 128 boundaries of 4 bytes
constexpr std::uint16_t kBlockDataPayload = kMaxBlocksPerRequest * 1024;
constexpr std::uint16_t kErrorReportPayload = 92; // the head of a TransferEvent
constexpr PayloadRule kAnything = atMost(static_cast<std::uint16_t>(kMaxFramePayload));

} // namespace

void encodeFrameHeader(const FrameHeader& header, ByteWriter& out)
{
    out.u16le(header.length);
    out.u8(header.type);
    out.u8(header.sub);
    out.u16le(header.tag);
    out.u8(header.reserved);
    out.u8(header.count);
    out.u32le(header.block);
}

std::optional<FrameHeader> parseFrameHeader(ByteSpan frame)
{
    ByteReader in(frame);
    FrameHeader header;
    header.length = in.u16le();
    header.type = in.u8();
    header.sub = in.u8();
    header.tag = in.u16le();
    header.reserved = in.u8();
    header.count = in.u8();
    header.block = in.u32le();
    if (!in.ok())
        return std::nullopt;
    return header;
}

bool storeFrameHeader(MutableByteSpan frame, const FrameHeader& header)
{
    if (!storeFrameStart(frame, header.length, header.type, header.sub))
        return false;
    storeU16le(frame, FrameHeader::kTagOffset, header.tag);
    frame[FrameHeader::kReservedOffset] = header.reserved;
    frame[FrameHeader::kCountOffset] = header.count;
    for (std::size_t i = 0; i < 4; ++i)
        frame[FrameHeader::kBlockOffset + i] = static_cast<std::uint8_t>(header.block >> (8 * i));
    return true;
}

bool storeFrameStart(MutableByteSpan frame, std::uint16_t length, std::uint8_t type, std::uint8_t sub)
{
    if (frame.size() < FrameHeader::kSize)
        return false;
    storeU16le(frame, FrameHeader::kLengthOffset, length);
    frame[FrameHeader::kTypeOffset] = type;
    frame[FrameHeader::kSubOffset] = sub;
    storeU16le(frame, FrameHeader::kTagOffset, 0);
    frame[FrameHeader::kReservedOffset] = 0;
    return true;
}

std::optional<PayloadRule> payloadRule(std::uint8_t type, std::uint8_t sub)
{
    switch (type) {
    case kFrameHello:
        if (sub == kSubHello)
            return exactly(kHelloPayload);
        return sub == kSubHelloAck ? exactly(0) : kAnything;
    case kFrameFile:
        if (sub == kSubFileRequest || sub == kSubFileAccepted)
            return exactly(kRequestPayload);
        return sub == kSubSmallFile ? atMost(kSmallFilePayload) : kAnything;
    case kFrameFolder:
        return kAnything;
    case kFrameBlockMap:
        return atMost(kMapPayload, 4);
    case kFrameBlocks:
        if (sub == kSubBlockRequest)
            return atMost(kMapPayload); // the requester's map rides along unread
        return sub == kSubBlockData ? atMost(kBlockDataPayload) : kAnything;
    case kFrameErrorReport:
        return atMost(kErrorReportPayload);
    default:
        return std::nullopt;
    }
}

bool payloadAllowed(std::uint8_t type, std::uint8_t sub, std::size_t payloadLength)
{
    const auto rule = payloadRule(type, sub);
    if (!rule || payloadLength > rule->max || payloadLength % rule->multiple != 0)
        return false;
    return !rule->exact || payloadLength == rule->max;
}

} // namespace vandry
