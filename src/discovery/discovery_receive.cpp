// The receive side of the discovery endpoint: one datagram per call, dispatched by type. Every
// handler reads the datagram it was given to the end before it sends anything, and replies are
// built in buffers of their own.
#include <algorithm>

#include "discovery/compressed_datagram.h"
#include "discovery/discovery_endpoint.h"
#include "discovery/number_field.h"
#include "discovery/request_server.h"
#include "discovery/status_dump.h"

namespace vandry {

namespace {
constexpr std::uint8_t kServerAnswer = 2;
constexpr std::uint8_t kPunchProbe = 0;
constexpr std::uint8_t kPunchAnswer = 1;
constexpr std::uint8_t kEchoRequest = 0;
constexpr std::uint8_t kEchoAnswer = 1;
constexpr std::uint8_t kFullUpdate = 1;  // a type 3 list of this sub-type is announced like type 2
constexpr std::size_t kRecordOffset = 8; // of the sender's record in a request or reply payload

std::optional<HostIdentity> leadingIdentity(ByteSpan payload)
{
    if (payload.size() < sizeof(HostIdentity))
        return std::nullopt;
    HostIdentity identity;
    std::copy_n(payload.begin(), identity.size(), identity.begin());
    return identity;
}
} // namespace

void DiscoveryEndpoint::receive(ByteSpan datagram, Endpoint source)
{
    switch (classifyDatagram(datagram)) {
    case DatagramClass::ReliableTransport:
        context_.transport.onDatagram(datagram, source);
        return;
    case DatagramClass::Drop:
        return;
    case DatagramClass::Control:
        if (const auto parsed = parseControlHeader(datagram))
            dispatch(*parsed, datagram, source);
        return;
    }
}

void DiscoveryEndpoint::dispatch(const ControlDatagram& h, ByteSpan datagram, Endpoint source)
{
    const ByteSpan payload = datagram.subspan(ControlDatagram::kSize);
    switch (static_cast<ControlType>(h.type)) {
    case ControlType::ServerProbe:
        return onServerReply(h, source);
    case ControlType::Announce:
        return onAnnounce(source);
    case ControlType::Records:
    case ControlType::RecordsUpdate:
        return onRecords(h, datagram, source);
    case ControlType::Request:
        return onRequest(h, payload, source);
    case ControlType::Reply:
        noteDirectReply(payload);
        return onReply(payload, source);
    case ControlType::Punch:
        return onPunch(h, payload, source);
    case ControlType::ServerRecords:
        if (isServer(source))
            mergeRecords(h.word, payload, RecordSource::Server);
        return;
    case ControlType::ServerList:
        return onServerList(h, payload, source);
    case ControlType::Echo:
        return onEcho(h, payload, source);
    case ControlType::Relay:
        return onRelayed(datagram, source);
    }
}

bool DiscoveryEndpoint::isServer(Endpoint source) const
{
    const std::string sourceText = ipv4ToText(source.address);
    const auto servers = context_.settings.servers.entries();
    return std::any_of(servers.begin(), servers.end(),
                       [&](const ServerList::Entry& server) { return server.address == sourceText; });
}

// A server answered our probe with our public address and port. Servers are matched by dotted
// text, and a better (smaller) index takes over.
void DiscoveryEndpoint::onServerReply(const ControlDatagram& h, Endpoint source)
{
    if (h.subType != kServerAnswer)
        return;
    const std::string sourceText = ipv4ToText(source.address);
    const auto servers = context_.settings.servers.entries();
    const auto match = std::find_if(servers.begin(), servers.end(),
                                    [&](const ServerList::Entry& server) { return server.address == sourceText; });
    if (match == servers.end())
        return;
    if (!context_.settings.servers.offerBest(static_cast<int>(match - servers.begin())))
        return;
    auto local = context_.table.local().host;
    local.mapAddr = h.address;
    local.mapPort = h.word;
    context_.table.setLocal(local);
}

void DiscoveryEndpoint::onAnnounce(Endpoint source)
{
    sender_.send(controlHeader(ControlType::Records), encodeHostRecord(context_.table.local().host), source);
}

void DiscoveryEndpoint::onRecords(const ControlDatagram& h, ByteSpan datagram, Endpoint source)
{
    sender_.setEchoWord(h.word);
    ByteSpan payload = datagram.subspan(ControlDatagram::kSize);
    std::vector<std::uint8_t> expanded;
    if (h.compressed == 1) {
        expanded.assign(datagram.begin(), datagram.end());
        if (expandCompressedDatagram(expanded, ControlDatagram::kMaxSize) != LzwStatus::Ok)
            return;
        payload = ByteSpan(expanded).subspan(ControlDatagram::kSize);
    }
    if (!mergeRecords(h.word, payload, isServer(source) ? RecordSource::Server : RecordSource::Peer))
        return;
    if (h.type == static_cast<std::uint8_t>(ControlType::Records) || h.subType == kFullUpdate)
        context_.listener.neighboursArrived();
}

// False when the payload is not a list of whole records, or a peer's list of more than its own
// record (only servers send lists). The slot the table chose is not written back anywhere:
// nothing reads the datagram after the merge.
bool DiscoveryEndpoint::mergeRecords(std::uint16_t slotHint, ByteSpan payload, RecordSource from)
{
    const auto records = parseRecordList(payload);
    if (!records || (from == RecordSource::Peer && records->size() > 1))
        return false;
    context_.table.merge(*records, slotHint, from);
    if (from == RecordSource::Server) {
        listedByServer_ = true;
        context_.listener.serverRecordsArrived();
    }
    return true;
}

// Answers go out within the reply budget. The relayed form names the address to answer at, so
// it is honoured only when a server relayed it; anyone else could aim answers at a third party.
void DiscoveryEndpoint::onRequest(const ControlDatagram& h, ByteSpan payload, Endpoint source)
{
    if (h.subType != 0 && !isServer(source))
        return;
    const auto served = serveRequest(payload, context_.services, context_.table.local().host);
    if (!served)
        return;
    const auto reply = controlHeader(ControlType::Reply);
    const std::uint32_t nowMs = context_.table.clock().tickMs();
    if (h.subType == 0) {
        heardFrom(served->requester.identity, source);
        if (replyBudget_.take(source.address, served->reply.size(), nowMs))
            sender_.send(reply, served->reply, source);
        return;
    }
    // Forwarded by a server: answer the requester itself, not the server. Without a path to it,
    // the answer goes to its mapped endpoint unless that would spoil the punch under way; the
    // requester asks again.
    const NeighbourRecord requester = context_.table.snapshot(served->requester);
    const auto chosen = directPath(requester);
    if (!chosen && !mayReachMapped(requester, PunchRole::Responder))
        return;
    const Endpoint destination = chosen.value_or(Endpoint{requester.host.mapAddr, requester.host.mapPort});
    if (!replyBudget_.take(destination.address, served->reply.size(), nowMs))
        return;
    if (context_.settings.logging.load())
        context_.log.append(sessionReplyLog(served->reply.size(), reply.type, reply.subType, requester, chosen));
    sender_.send(reply, served->reply, destination);
}

void DiscoveryEndpoint::onReply(ByteSpan payload, Endpoint source)
{
    if (payload.size() < RequestHeader::kSize)
        return;
    const std::uint16_t headerLength = loadU16le(payload, 0);
    if (headerLength < RequestHeader::kSize || headerLength > payload.size())
        return;
    if (const auto replier = leadingIdentity(payload.subspan(kRecordOffset)))
        heardFrom(*replier, source);
    switch (static_cast<RequestKind>(payload[2])) {
    case RequestKind::ShareQuery:
        return context_.listener.queryReplyArrived(payload, source);
    case RequestKind::FolderListing:
        return context_.listener.listingReplyArrived(payload);
    case RequestKind::SourceLookup:
        return context_.listener.sourceReplyArrived(payload);
    }
}

void DiscoveryEndpoint::onPunch(const ControlDatagram& h, ByteSpan payload, Endpoint source)
{
    const auto identity = leadingIdentity(payload);
    if (!identity)
        return;
    if (h.subType != kPunchProbe) {
        const auto slot = context_.table.find(*identity, false);
        if (!slot)
            return;
        // Only the neighbour's LAN addresses are probed with its own port; an answer at its mapped
        // address confirms the path it came by instead, and an answer naming anything else is no
        // address of the neighbour's at all.
        const auto& host = context_.table.at(*slot).host;
        if (h.address != 0 && (h.address == host.lanPrimary || h.address == host.lanSecondary))
            context_.table.confirmDirectAddress(*slot, h.address);
        heardFrom(*identity, source);
        return;
    }
    if (const auto slot = context_.table.find(*identity, true))
        context_.table.recordProbe(*slot, source);
    // Answered only when the prober reached us at the address it names (a LAN address, or the
    // mapped one through our translator): then that address works.
    const auto& local = context_.table.local().host;
    if (h.address != 0 &&
        (h.address == local.lanPrimary || h.address == local.lanSecondary || h.address == local.mapAddr))
        sender_.send(controlHeader(ControlType::Punch, kPunchAnswer, h.address), local.identity, source);
    heardFrom(*identity, source);
}

// A list meant for another copy's identity tag (bytes 6-7 of the identity, in the header's
// bytes 8-11 as a little-endian number) is ignored, and so is a list from anyone but a known
// server: otherwise any sender could make itself this copy's server.
void DiscoveryEndpoint::onServerList(const ControlDatagram& h, ByteSpan payload, Endpoint source)
{
    if (!isServer(source))
        return;
    const auto& identity = context_.table.local().host.identity;
    const std::uint32_t tag = identity[6] | (std::uint32_t{identity[7]} << 8);
    if (tag != 0 && numberFromAddressField(h.address) != tag)
        return;
    const auto entries = parseServerList(payload);
    for (std::size_t i = 0; i < entries.size(); ++i)
        context_.settings.servers.setEntry(i, ipv4ToText(entries[i].address), entries[i].port);
    // Counted after the entries are stored, so a probe that sees the count change reads the new list.
    const std::uint8_t lists = ++context_.settings.servers.probeState;
    if (lists == 1)
        context_.listener.serverListArrived();
}

void DiscoveryEndpoint::onEcho(const ControlDatagram& h, ByteSpan payload, Endpoint source)
{
    if (h.subType != kEchoRequest)
        return;
    ControlDatagram echo = h; // bytes 6-11 go back as they came
    echo.subType = kEchoAnswer;
    sender_.send(echo, payload, source);
}

} // namespace vandry
