// Classifies a received datagram and runs every payload parser of the discovery endpoint over it,
// including the expansion of a compressed payload. Re-encoding what parsed must give the same bytes.
#include <cstdlib>

#include "discovery/compressed_datagram.h"
#include "discovery/control_datagram.h"

namespace {
using namespace vandry;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void parsePayload(ByteSpan payload)
{
    if (const auto request = parseRequest(payload)) {
        std::vector<std::uint8_t> encoded;
        ByteWriter out(encoded);
        encodeRequestHeader(request->header, out);
        if (request->header.kind == static_cast<std::uint8_t>(RequestKind::SourceLookup)) {
            out.bytes(request->key);
        } else {
            out.bytes(asBytes(request->text));
            out.u8(0);
        }
        require(encoded.size() == request->header.payloadLength &&
                std::equal(encoded.begin(), encoded.end(), payload.begin()));
    }
    if (const auto records = parseRecordList(payload)) {
        const auto encoded = encodeRecordList(*records);
        require(std::equal(encoded.begin(), encoded.end(), payload.begin(), payload.end()));
    }
    require(parseServerList(payload).size() <= kMaxServers);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ByteSpan bytes(data, size);
    parseControlHeader(bytes);
    if (classifyDatagram(bytes) != DatagramClass::Control)
        return 0;
    parsePayload(bytes.subspan(ControlDatagram::kSize));

    constexpr std::size_t kBufferCapacity = ControlDatagram::kMaxSize + ControlDatagram::kSize;
    std::vector<std::uint8_t> datagram(bytes.begin(), bytes.end());
    if (expandCompressedDatagram(datagram, kBufferCapacity) != LzwStatus::Ok)
        return 0;
    require(datagram.size() <= ControlDatagram::kMaxSize && loadU16le(datagram, 0) == datagram.size());
    parsePayload(ByteSpan(datagram).subspan(ControlDatagram::kSize));
    return 0;
}
