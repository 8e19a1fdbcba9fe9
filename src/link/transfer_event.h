#pragma once
// TransferEvent (596 bytes): a link's last event report, as the main window reads it; its first
// 92 bytes are also the payload of an 'I' error report to the peer.
//    0 u8 code   1 u8 link index   2 reserved[2]   4 task identity[16]   20 peer identity[16]
//   36 text[260]   296 path[260] (event types 2 and 9)   556 SourceInfo (36)   592 reserved[4]
// Texts are zero-terminated UTF-8. An error report holds only the first 56 bytes of the text, so a
// long text arrives without its zero.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/identity.h"
#include "link/link_records.h"

namespace vandry {

struct TransferEvent {
    static constexpr std::size_t kSize = 596;
    static constexpr std::size_t kTextOffset = 36;
    static constexpr std::size_t kTextSize = 260;
    static constexpr std::size_t kPathSize = 260;
    static constexpr std::size_t kErrorReportSize = 92;

    std::uint8_t code = 0;
    std::uint8_t linkIndex = 0;
    std::array<std::uint8_t, 2> reserved2{};
    HostIdentity taskId{};
    HostIdentity peerIdentity{};
    std::string text;
    std::string path;
    SourceInfo source;
    std::array<std::uint8_t, 4> reserved592{};

    bool operator==(const TransferEvent&) const = default;
};
static_assert(TransferEvent::kSize ==
              1 + 1 + 2 + 16 + 16 + TransferEvent::kTextSize + TransferEvent::kPathSize + SourceInfo::kSize + 4);
static_assert(TransferEvent::kTextOffset == 1 + 1 + 2 + 16 + 16);

void encodeTransferEvent(const TransferEvent& event, ByteWriter& out);
std::vector<std::uint8_t> encodeTransferEvent(const TransferEvent& event);
std::optional<TransferEvent> parseTransferEvent(ByteReader& in);

// The payload of an 'I' frame: the first 92 bytes of the encoded event.
std::vector<std::uint8_t> encodeErrorReport(const TransferEvent& event);
// The text of a received error report: from offset 36 up to its zero or the end of the payload,
// without a character the cut split. Empty when the payload ends before the text.
std::string errorReportText(ByteSpan payload);

} // namespace vandry
