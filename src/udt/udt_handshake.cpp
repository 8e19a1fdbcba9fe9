// The four-step handshake of the datagram transport, the relay step of a third party, and resets.
#include <algorithm>
#include <cstdio>
#include <string>

#include "discovery/host_record.h"
#include "udt/udt_transport.h"

namespace vandry {

namespace {
constexpr std::string_view kResetLine = "UDT_RESET\r\n";
constexpr std::size_t kResetPayload = 60;

HandshakeRecord recordOf(const HostRecord& host)
{
    HandshakeRecord record;
    const auto bytes = encodeHostRecord(host);
    std::copy_n(bytes.begin(), record.bytes.size(), record.bytes.begin());
    return record;
}

std::string connectedLine(Endpoint peer, std::uint32_t ms)
{
    char line[96];
    std::snprintf(line, sizeof line, "UDTConnect: %s:%u after %u ms\r\n", ipv4ToText(peer.address).c_str(), peer.port,
                  ms);
    return line;
}

bool usable(Endpoint e)
{
    return e.address != 0 && e.port != 0;
}
} // namespace

bool UdtTransport::connect(std::uint8_t index, const NeighbourRecord& callee)
{
    if (index == 0 || index >= kConnections)
        return false;
    return startCall(index, callee);
}

bool UdtTransport::startCall(std::uint8_t index, const NeighbourRecord& callee)
{
    callees_[index] = callee;
    HandshakeRecord record = recordOf(context_.neighbours.local().host);
    record.setKey(callee.host.identity);
    const auto chosen = directPath(callee);
    const auto lan = context_.neighbours.lanAddress(callee);
    // While a path is being punched, a call to the mapped endpoint could spoil it: the relayed
    // call and the punch probes do the work then.
    const bool callMapped = !chosen && mayReachMapped(callee, PunchRole::Initiator);
    const std::optional<Endpoint> mapped =
        callMapped ? std::optional(Endpoint{callee.host.mapAddr, callee.host.mapPort}) : std::nullopt;
    const auto server = context_.bestServer ? context_.bestServer() : std::nullopt;

    std::lock_guard lock(mutex_);
    UdtConnection& slot = slots_[index];
    const bool repeat = slot.state == UdtState::Calling && slot.key == callee.host.identity;
    if (!repeat) {
        clearSlot(index);
        slot.lastActive = now();
        slot.callTick = context_.clock.tickMs();
    }
    slot.key = callee.host.identity;
    slot.state = UdtState::Calling;
    slot.handshakeTick = context_.clock.tickMs();
    slot.peer = {0, UdtConnection::kCallingPort};
    slot.callRecord = record;
    if (chosen && usable(*chosen)) {
        sendHandshake(UdtType::UDT_CALL, index, 0, record, *chosen);
        return true;
    }
    bool sent = false;
    for (const auto& target : {lan, mapped})
        if (target && usable(*target)) {
            sendHandshake(UdtType::UDT_CALL, index, 0, record, *target);
            sent = true;
        }
    if (server && usable(*server)) {
        sendHandshake(UdtType::UDT_RELAY, index, 0, record, *server);
        sent = true;
    }
    return callThroughRelay(index, callee, record, server) || sent;
}

// The worker found a call unanswered: call again with what the neighbour table knows now, or
// with the record the call began with while the table does not list the callee.
void UdtTransport::repeatCall(std::uint8_t index, std::uint64_t generation)
{
    HostIdentity callee;
    {
        std::lock_guard lock(mutex_);
        if (generations_[index] != generation || slots_[index].state != UdtState::Calling)
            return;
        callee = slots_[index].key;
    }
    const auto found = context_.neighbours.find(callee, false);
    if (found)
        startCall(index, context_.neighbours.at(*found));
    else if (callees_[index].host.identity == callee)
        startCall(index, NeighbourRecord(callees_[index]));
}

// A third party introduces the caller to the callee, with the address it saw the caller at.
void UdtTransport::onRelay(const UdtPacket& packet, const HandshakeRecord& record, Endpoint source)
{
    const auto found = context_.neighbours.find(record.key(), false);
    if (!found || *found == NeighbourTable::kLocalSlot)
        return;
    const NeighbourRecord& callee = context_.neighbours.at(*found);
    const Endpoint target{callee.host.mapAddr, callee.host.mapPort};
    if (!usable(target))
        return;
    HandshakeRecord call = record;
    call.setMapped(source);
    call.setRelayed(true);
    std::lock_guard lock(mutex_);
    sendHandshake(UdtType::UDT_CALL, packet.header.receiverIndex(), 0, call, target);
}

// The callee keeps no state for a call: it answers, and the caller's confirm sets up the slot.
void UdtTransport::onCall(const UdtPacket& packet, HandshakeRecord record, Endpoint source)
{
    const HostIdentity& self = context_.neighbours.local().host.identity;
    const HostIdentity key = record.key();
    if (!std::equal(key.begin() + 8, key.end(), self.begin() + 8))
        return;
    Endpoint target = source;
    std::optional<Endpoint> second;
    if (record.relayed()) {
        ByteReader in(record.bytes);
        const HostRecord caller = parseHostRecord(in).value_or(HostRecord{});
        const NeighbourRecord known = context_.neighbours.snapshot(caller);
        if (const auto path = directPath(known))
            target = *path;
        else if (mayReachMapped(known, PunchRole::Responder))
            target = {known.host.mapAddr, known.host.mapPort};
        else
            target = {};
        second = context_.neighbours.lanAddress(known);
    }
    record.setRelayed(false);
    std::lock_guard lock(mutex_);
    if (usable(target))
        sendHandshake(UdtType::UDT_ANSWER, packet.header.index, 0, record, target);
    if (second && usable(*second) && *second != target)
        sendHandshake(UdtType::UDT_ANSWER, packet.header.index, 0, record, *second);
}

// The first answer fixes the path; the caller confirms with a fresh connection id.
void UdtTransport::onAnswer(const UdtPacket& packet, HandshakeRecord record, Endpoint source)
{
    const std::uint8_t i = packet.header.receiverIndex();
    if (i >= kConnections)
        return;
    const HostIdentity id = context_.newConnectionId();
    std::lock_guard lock(mutex_);
    UdtConnection& slot = slots_[i];
    if (slot.state != UdtState::Calling || record.key() != slot.key)
        return;
    if (!RelayedPeers::isStandIn(source))
        callFallback_.heardDirectly(slot.key, context_.clock.tickMs());
    slot.state = UdtState::Answered;
    slot.handshakeTick = context_.clock.tickMs();
    slot.peer = source;
    slot.key = id;
    record.setKey(id);
    sendHandshake(UdtType::UDT_CONFIRM, i, 0, record, source);
}

// The callee takes a link for the connection. A repeated confirm gets the same accept again:
// drawing a new tag would leave the caller, which keeps the first accept's, unheard.
void UdtTransport::onConfirm(const UdtPacket& packet, const HandshakeRecord& record, Endpoint source)
{
    const std::uint8_t callerIndex = packet.header.receiverIndex();
    const HostIdentity id = record.key();
    {
        std::lock_guard lock(mutex_);
        for (std::uint8_t j = 1; j < kConnections; ++j) {
            const UdtConnection& slot = slots_[j];
            if (slot.state == UdtState::Accepted && slot.key == id && slot.peer == source) {
                sendHandshake(UdtType::UDT_ACCEPT, slot.outIndex, slot.tag, record, source);
                return;
            }
        }
    }
    const auto link = context_.links.openIncomingLink();
    std::lock_guard lock(mutex_);
    if (!link || *link == 0 || *link >= kConnections) {
        sendReset(callerIndex, 0, source);
        return;
    }
    const std::uint8_t j = *link;
    clearSlot(j);
    UdtConnection& slot = slots_[j];
    slot.key = id;
    slot.state = UdtState::Accepted;
    slot.outIndex = static_cast<std::uint16_t>((j << 8) | callerIndex);
    slot.peer = source;
    slot.lastActive = now();
    slot.handshakeTick = context_.clock.tickMs();
    slot.tag = static_cast<std::uint16_t>(now() & UdtHeader::kTagMask);
    sendHandshake(UdtType::UDT_ACCEPT, slot.outIndex, slot.tag, record, source);
}

void UdtTransport::onAccept(const UdtPacket& packet, const HandshakeRecord& record, Endpoint source)
{
    const std::uint8_t i = packet.header.receiverIndex();
    if (i >= kConnections)
        return;
    {
        std::lock_guard lock(mutex_);
        UdtConnection& slot = slots_[i];
        // Only the callee knows the connection id: nobody else can complete the call.
        if (slot.state != UdtState::Answered || record.key() != slot.key)
            return;
        slot.state = UdtState::Established;
        slot.outIndex = static_cast<std::uint16_t>((packet.header.index << 8) | (packet.header.index >> 8));
        slot.peer = source;
        slot.tag = packet.header.tag;
        slot.lastActive = now();
        context_.log.append(connectedLine(source, context_.clock.tickMs() - slot.callTick));
    }
    context_.links.connected(i);
}

// Only the peer of the connection may end it: a reset from elsewhere, or with another tag,
// changes nothing.
void UdtTransport::onReset(const UdtPacket& packet, Endpoint source)
{
    const std::uint8_t i = packet.header.receiverIndex();
    if (i >= kConnections)
        return;
    {
        std::lock_guard lock(mutex_);
        UdtConnection& slot = slots_[i];
        if (!slot.inUse() || slot.peer != source || (slot.tag != 0 && packet.header.tag != slot.tag))
            return;
        slot.state = UdtState::ResetReceived;
    }
    context_.links.ended(i);
    context_.log.append(kResetLine);
}

std::optional<Endpoint> UdtTransport::directPath(const NeighbourRecord& neighbour) const
{
    return punch_ ? punch_->directPath(neighbour) : context_.neighbours.chooseAddress(neighbour);
}

bool UdtTransport::mayReachMapped(const NeighbourRecord& neighbour, PunchRole role) const
{
    return !punch_ || punch_->mayReachMapped(neighbour, role);
}

void UdtTransport::sendHandshake(UdtType type, std::uint16_t index, std::uint16_t tag, const HandshakeRecord& record,
                                 Endpoint destination)
{
    std::array<std::uint8_t, UdtHeader::kSize + HandshakeRecord::kSize> packet{};
    writeUdtHeader({index, HandshakeRecord::kSize, tag, type, 0, 0}, packet);
    std::copy(record.bytes.begin(), record.bytes.end(), packet.begin() + UdtHeader::kSize);
    context_.socket.sendTo(packet, destination);
}

void UdtTransport::sendReset(std::uint16_t index, std::uint16_t tag, Endpoint destination)
{
    std::array<std::uint8_t, UdtHeader::kSize + kResetPayload> packet{};
    writeUdtHeader({index, kResetPayload, tag, UdtType::UDT_RESET, 0, 0}, packet);
    context_.socket.sendTo(packet, destination);
}

} // namespace vandry
