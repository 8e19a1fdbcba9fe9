// The byte streams of established connections: queueing, sending, acknowledgement, resending
// after loss, and delivery to the link in order.
#include <algorithm>

#include "udt/udt_transport.h"

namespace vandry {

namespace {
// Ring sizes are powers of two.
void ensureRing(std::vector<std::uint8_t>& ring, std::size_t size)
{
    if (ring.empty())
        ring.resize(size);
}

void copyIntoRing(std::vector<std::uint8_t>& ring, std::uint32_t offset, ByteSpan bytes)
{
    const std::size_t at = offset & (ring.size() - 1);
    const std::size_t first = std::min(bytes.size(), ring.size() - at);
    std::copy_n(bytes.begin(), first, ring.begin() + static_cast<std::ptrdiff_t>(at));
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(first), bytes.end(), ring.begin());
}

void copyFromRing(const std::vector<std::uint8_t>& ring, std::uint32_t offset, MutableByteSpan out)
{
    const std::size_t at = offset & (ring.size() - 1);
    const std::size_t first = std::min(out.size(), ring.size() - at);
    std::copy_n(ring.begin() + static_cast<std::ptrdiff_t>(at), first, out.begin());
    std::copy_n(ring.begin(), out.size() - first, out.begin() + static_cast<std::ptrdiff_t>(first));
}

bool carriesPush(UdtType type)
{
    return (static_cast<std::uint8_t>(type) & 1) != 0;
}
} // namespace

std::size_t UdtTransport::queue(std::uint8_t index, ByteSpan bytes)
{
    if (index >= kConnections)
        return bytes.size();
    std::size_t taken = 0;
    {
        std::lock_guard lock(mutex_);
        UdtConnection& slot = slots_[index];
        if (!slot.inUse())
            return bytes.size();
        ensureRing(slot.outBuffer, UdtConnection::kSendRingSize);
        taken = std::min<std::size_t>(bytes.size(), UdtConnection::kSendLimit - slot.queued);
        copyIntoRing(slot.outBuffer, slot.sendBase + slot.queued, bytes.first(taken));
        slot.queued += static_cast<std::uint32_t>(taken);
        slot.writerWaiting = taken < bytes.size();
        slot.lastActive = now();
    }
    if (taken > 0)
        context_.work.requestTransmit(index);
    return taken;
}

void UdtTransport::transmitQueued(std::uint8_t index)
{
    if (index >= kConnections)
        return;
    std::lock_guard lock(mutex_);
    sendQueued(slots_[index]);
}

void UdtTransport::sendQueued(UdtConnection& slot)
{
    if (!slot.established())
        return;
    while (slot.sent < slot.queued) {
        const std::uint32_t n = std::min(slot.queued - slot.sent, kMaxPayload);
        const UdtType type = slot.sent + n == slot.queued ? UdtType::UDT_PUSH : UdtType::UDT_DATA;
        const std::uint32_t offset = slot.sendBase + slot.sent;
        if (!sendPacket(slot, type, offset, offset, n))
            break;
        slot.sent += n;
        slot.sendNext = slot.sendBase + slot.sent;
        slot.progressTick = context_.clock.tickMs();
    }
}

void UdtTransport::retransmit(std::uint8_t index)
{
    if (index >= kConnections)
        return;
    std::lock_guard lock(mutex_);
    const UdtConnection& slot = slots_[index];
    if (!slot.established() || !offsetBefore(slot.peerAcked, slot.sendNext))
        return;
    const std::uint32_t n = std::min(slot.sendNext - slot.peerAcked, kMaxPayload);
    sendPacket(slot, UdtType::UDT_RESEND, slot.peerAcked, slot.peerAcked, n);
}

// Data, probes and acknowledgements count only from the connection's peer, with its tag, on an
// established connection.
void UdtTransport::onData(const UdtPacket& packet, Endpoint source, Delivery& delivery)
{
    const std::uint8_t i = packet.header.receiverIndex();
    if (i >= kConnections)
        return;
    std::lock_guard lock(mutex_);
    const UdtConnection& slot = slots_[i];
    if (!slot.established() || slot.peer != source || slot.tag != packet.header.tag)
        return;
    delivery.link = i;
    receiveStep(i, packet, delivery);
}

void UdtTransport::receiveStep(std::uint8_t index, const UdtPacket& packet, Delivery& delivery)
{
    UdtConnection& slot = slots_[index];
    const UdtType type = packet.header.type;
    slot.lastActive = now();
    ensureRing(slot.inBuffer, UdtConnection::kReceiveRingSize);
    takeAck(slot, packet.header.ack, delivery);

    const std::uint32_t arrived = packet.header.offset;
    std::uint32_t offset = arrived;
    ByteSpan payload = packet.payload;
    if (offsetBefore(offset, slot.recvNext)) {
        // Old data; a resend that reaches past what is held still brings its new part.
        const std::uint32_t known = slot.recvNext - offset;
        if (known >= payload.size())
            return;
        payload = payload.subspan(known);
        offset = slot.recvNext;
    }
    if (!payload.empty() && store(slot, offset, payload) && carriesPush(type))
        slot.pushedEnd = offset + static_cast<std::uint32_t>(payload.size());

    const bool peerMissing = offsetBefore(slot.peerAcked, slot.sendNext);
    if (offsetBefore(slot.recvNext, offset)) {
        // A gap. Data that shows one is answered with a probe. An empty packet never is: two
        // ends that both miss data would otherwise probe each other for ever. It is answered
        // with what repairs the peer's view instead: a resend if the peer misses our data, else
        // our position, which makes the peer resend.
        if (!payload.empty())
            sendControl(slot, UdtType::UDT_PROBE);
        else if (peerMissing)
            context_.work.requestRetransmit(index);
        else
            sendControl(slot, UdtType::UDT_PUSH);
        return;
    }
    if (type != UdtType::UDT_DATA) {
        if (peerMissing)
            context_.work.requestRetransmit(index);
        else if (type == UdtType::UDT_PROBE || type == UdtType::UDT_RESEND)
            sendControl(slot, !payload.empty() || slot.recvNext != arrived ? UdtType::UDT_PUSH : UdtType::UDT_DATA);
    }

    // Deliver at the end of a batch, when much is waiting, or when a late packet completes a
    // batch whose end arrived first (nothing else might ever come to push it).
    const std::uint32_t waiting = slot.recvNext - slot.recvBase;
    const bool batchComplete =
        offsetBefore(slot.recvBase, slot.pushedEnd) && !offsetBefore(slot.recvNext, slot.pushedEnd);
    delivery.deliver = waiting > 0 && (carriesPush(type) || waiting > kDeliverThreshold || batchComplete);
    delivery.acknowledge = delivery.deliver && !payload.empty() && type != UdtType::UDT_RESEND;
}

void UdtTransport::deliverPending(std::uint8_t index)
{
    if (index < kConnections)
        handOver(index);
}

void UdtTransport::handOver(std::uint8_t index)
{
    std::vector<std::uint8_t> bytes;
    for (;;) {
        std::uint64_t generation = 0;
        {
            std::lock_guard lock(mutex_);
            const UdtConnection& slot = slots_[index];
            if (delivering_[index]) {
                deliverAgain_[index] = true;
                return;
            }
            if (!slot.established() || slot.recvNext == slot.recvBase)
                return;
            bytes.resize(slot.recvNext - slot.recvBase);
            copyFromRing(slot.inBuffer, slot.recvBase, bytes);
            generation = generations_[index];
            delivering_[index] = true;
            deliverAgain_[index] = false;
        }
        const std::size_t taken = std::min(context_.links.deliver(index, bytes), bytes.size());
        std::lock_guard lock(mutex_);
        delivering_[index] = false;
        UdtConnection& slot = slots_[index];
        // The link may have ended the connection meanwhile.
        if (generations_[index] != generation || !slot.established())
            return;
        slot.ranges.consume(static_cast<std::uint32_t>(taken));
        slot.recvBase += static_cast<std::uint32_t>(taken);
        if (!deliverAgain_[index] || taken == 0)
            return;
    }
}

// What was delivered is acknowledged at once unless the link's answer, queued meanwhile, is
// about to carry the acknowledgement: the sender's buffer holds only 64 KiB, and an
// acknowledgement every delivery (at the end of a batch, or every 16550 bytes) lets it refill
// the buffer while the rest of the batch is still on its way.
void UdtTransport::acknowledgeIfIdle(std::uint8_t index)
{
    std::lock_guard lock(mutex_);
    const UdtConnection& slot = slots_[index];
    if (slot.established() && slot.sent == slot.queued)
        sendControl(slot, UdtType::UDT_DATA);
}

// Acks beyond what was sent are ignored; acknowledged bytes leave the send buffer at once.
void UdtTransport::takeAck(UdtConnection& slot, std::uint32_t ack, Delivery& delivery)
{
    if (!offsetBefore(slot.peerAcked, ack) || offsetBefore(slot.sendNext, ack))
        return;
    slot.peerAcked = ack;
    slot.progressTick = context_.clock.tickMs();
    const std::uint32_t freed = ack - slot.sendBase;
    if (freed == 0 || freed > slot.sent)
        return;
    slot.sendBase = ack;
    slot.sent -= freed;
    slot.queued -= freed;
    if (slot.writerWaiting) {
        slot.writerWaiting = false;
        delivery.writable = true;
    }
}

// False when the payload does not fit in the receive buffer or would need one range too many;
// the sender resends it later.
bool UdtTransport::store(UdtConnection& slot, std::uint32_t offset, ByteSpan payload)
{
    const std::uint32_t start = offset - slot.recvBase;
    const std::uint32_t end = start + static_cast<std::uint32_t>(payload.size());
    if (end > UdtConnection::kReceiveLimit || end < start)
        return false;
    if (!slot.ranges.add(start, end))
        return false;
    copyIntoRing(slot.inBuffer, offset, payload);
    slot.recvNext = slot.recvBase + slot.ranges.contiguousEnd();
    return true;
}

void UdtTransport::sendControl(const UdtConnection& slot, UdtType type)
{
    sendPacket(slot, type, slot.sendNext, 0, 0);
}

bool UdtTransport::sendPacket(const UdtConnection& slot, UdtType type, std::uint32_t offset, std::uint32_t from,
                              std::uint32_t length)
{
    std::array<std::uint8_t, UdtHeader::kSize + kMaxPayload> packet;
    writeUdtHeader({slot.outIndex, static_cast<std::uint16_t>(length), slot.tag, type, offset, slot.recvNext}, packet);
    const MutableByteSpan payload = MutableByteSpan(packet).subspan(UdtHeader::kSize, length);
    if (length > 0)
        copyFromRing(slot.outBuffer, from, payload);
    return context_.socket.sendTo(ByteSpan(packet).first(UdtHeader::kSize + length), slot.peer);
}

} // namespace vandry
