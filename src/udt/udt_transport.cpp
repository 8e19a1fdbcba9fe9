#include "udt/udt_transport.h"

#include <string_view>

namespace vandry {

namespace {
constexpr std::string_view kExpiresLine = "Expires\r\n";
constexpr std::string_view kShutLine = "UDTShut\r\n";
} // namespace

UdtTransport::UdtTransport(UdtContext context) : context_(std::move(context)) {}

void UdtTransport::onDatagram(ByteSpan datagram, Endpoint source)
{
    const auto packet = parseUdtPacket(datagram);
    if (!packet || packet->header.payloadLength != packet->payload.size())
        return;
    const UdtType type = packet->header.type;
    if (static_cast<std::uint8_t>(type) <= static_cast<std::uint8_t>(UdtType::UDT_RESEND)) {
        Delivery delivery;
        onData(*packet, source, delivery);
        if (delivery.writable)
            context_.links.writable(delivery.link);
        if (delivery.deliver)
            handOver(delivery.link);
        if (delivery.acknowledge)
            acknowledgeIfIdle(delivery.link);
        return;
    }
    if (type == UdtType::UDT_RESET)
        return onReset(*packet, source);
    const auto record = parseHandshakeRecord(packet->payload);
    if (!record)
        return;
    switch (type) {
    case UdtType::UDT_RELAY:
        return onRelay(*packet, *record, source);
    case UdtType::UDT_CALL:
        return onCall(*packet, *record, source);
    case UdtType::UDT_ANSWER:
        return onAnswer(*packet, *record, source);
    case UdtType::UDT_CONFIRM:
        return onConfirm(*packet, *record, source);
    case UdtType::UDT_ACCEPT:
        return onAccept(*packet, *record, source);
    default:
        return;
    }
}

void UdtTransport::close(std::uint8_t index, bool notifyPeer)
{
    if (index >= kConnections)
        return;
    std::lock_guard lock(mutex_);
    const UdtConnection& slot = slots_[index];
    if (notifyPeer && slot.inUse() && (slot.established() || slot.tag != 0))
        sendReset(slot.outIndex, slot.tag, slot.peer);
    clearSlot(index);
}

// Buffers stay for the slot's next connection.
void UdtTransport::clearSlot(std::uint8_t index)
{
    UdtConnection& slot = slots_[index];
    auto out = std::move(slot.outBuffer);
    auto in = std::move(slot.inBuffer);
    slot = UdtConnection{};
    slot.outBuffer = std::move(out);
    slot.inBuffer = std::move(in);
    ++generations_[index];
}

void UdtTransport::tick()
{
    std::lock_guard lock(mutex_);
    const std::int64_t nowS = now();
    const std::uint32_t nowMs = context_.clock.tickMs();
    for (std::uint8_t i = 0; i < kConnections; ++i) {
        UdtConnection& slot = slots_[i];
        if (!slot.inUse())
            continue;
        const std::int64_t idle = nowS - slot.lastActive;
        if (idle >= kExpirySeconds) {
            expire(i);
            continue;
        }
        if (slot.established()) {
            // Data unacknowledged for a whole tick is probed for: a lost last packet of a batch
            // would otherwise hold the connection for the two idle seconds.
            const bool stalled = nowMs - slot.progressTick >= kTickMs;
            if (slot.peerAcked != slot.sendNext && (idle >= kIdleProbeSeconds || stalled))
                sendControl(slot, UdtType::UDT_PROBE);
            else if (idle >= kIdleProbeSeconds && slot.sent < slot.queued)
                context_.work.requestTransmit(i);
        }
        if (nowMs - slot.handshakeTick < kHandshakeRepeatMs)
            continue;
        if (slot.state == UdtState::Calling) {
            slot.handshakeTick = nowMs;
            const std::uint64_t generation = generations_[i];
            context_.postToMain([this, i, generation] { repeatCall(i, generation); });
        } else if (slot.state == UdtState::Answered) {
            slot.handshakeTick = nowMs;
            HandshakeRecord confirm = slot.callRecord;
            confirm.setKey(slot.key);
            sendHandshake(UdtType::UDT_CONFIRM, i, 0, confirm, slot.peer);
        }
    }
}

// Under the lock, on the worker: the slot is freed at once, and its link hears of it on the
// main thread unless it has moved on by then.
void UdtTransport::expire(std::uint8_t index)
{
    context_.log.append(kExpiresLine);
    clearSlot(index);
    const std::uint64_t generation = generations_[index];
    context_.postToMain([this, index, generation] {
        {
            std::lock_guard lock(mutex_);
            if (generations_[index] != generation)
                return;
        }
        if (context_.links.ended(index))
            context_.log.append(kShutLine);
    });
}

UdtSlotView UdtTransport::view(std::uint8_t index) const
{
    std::lock_guard lock(mutex_);
    const UdtConnection& s = slots_.at(index);
    return {s.state,  s.peer, s.tag,      s.outIndex, s.sendBase,      s.sendNext,  s.peerAcked,
            s.queued, s.sent, s.recvBase, s.recvNext, s.ranges.size(), s.lastActive};
}

} // namespace vandry
