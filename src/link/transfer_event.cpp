#include "link/transfer_event.h"

#include <algorithm>

#include "common/text.h"

namespace vandry {

namespace {

// Drops a trailing UTF-8 sequence that lacks continuation bytes.
void dropSplitCharacter(std::string& text)
{
    std::size_t lead = text.size();
    std::size_t continuation = 0;
    while (lead > 0 && continuation < 3 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) {
        --lead;
        ++continuation;
    }
    if (lead == 0)
        return;
    const auto first = static_cast<unsigned char>(text[lead - 1]);
    const std::size_t expected = first >= 0xF0 ? 3 : first >= 0xE0 ? 2 : first >= 0xC0 ? 1 : 0;
    if (continuation < expected)
        text.resize(lead - 1);
}

} // namespace

void encodeTransferEvent(const TransferEvent& event, ByteWriter& out)
{
    out.u8(event.code);
    out.u8(event.linkIndex);
    out.bytes(event.reserved2);
    out.bytes(event.taskId);
    out.bytes(event.peerIdentity);
    encodeFixedText(event.text, TransferEvent::kTextSize, out);
    encodeFixedText(event.path, TransferEvent::kPathSize, out);
    encodeSourceInfo(event.source, out);
    out.bytes(event.reserved592);
}

std::vector<std::uint8_t> encodeTransferEvent(const TransferEvent& event)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeTransferEvent(event, out);
    return bytes;
}

std::optional<TransferEvent> parseTransferEvent(ByteReader& in)
{
    if (in.remaining() < TransferEvent::kSize)
        return std::nullopt;
    TransferEvent event;
    event.code = in.u8();
    event.linkIndex = in.u8();
    event.reserved2 = in.bytes<2>();
    event.taskId = in.bytes<16>();
    event.peerIdentity = in.bytes<16>();
    event.text = parseFixedText(in, TransferEvent::kTextSize);
    event.path = parseFixedText(in, TransferEvent::kPathSize);
    event.source = *parseSourceInfo(in);
    event.reserved592 = in.bytes<4>();
    return event;
}

std::vector<std::uint8_t> encodeErrorReport(const TransferEvent& event)
{
    auto bytes = encodeTransferEvent(event);
    bytes.resize(TransferEvent::kErrorReportSize);
    return bytes;
}

std::string errorReportText(ByteSpan payload)
{
    if (payload.size() <= TransferEvent::kTextOffset)
        return {};
    const auto field = payload.subspan(TransferEvent::kTextOffset);
    const auto zero = std::find(field.begin(), field.end(), std::uint8_t{0});
    std::string text(field.begin(), zero);
    if (zero == field.end())
        dropSplitCharacter(text);
    // The peer's words go into the event log and the task list: no forged lines.
    return escapeControlCharacters(text);
}

} // namespace vandry
