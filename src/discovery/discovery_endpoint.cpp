#include "discovery/discovery_endpoint.h"

#include <algorithm>

#include "discovery/number_field.h"

namespace vandry {

namespace {
constexpr std::size_t kRecordOffset = 8;
// A relayed request names its target in the nickname field of the requester's record.
constexpr std::size_t kTargetIdentityOffset = kRecordOffset + HostRecord::kSize - HostRecord::kNicknameSize;
static_assert(kTargetIdentityOffset + sizeof(HostIdentity) == RequestHeader::kSize);
} // namespace

DiscoveryEndpoint::DiscoveryEndpoint(std::unique_ptr<DatagramSocket> socket, DiscoveryContext context,
                                     ServerProbe::Sleeper probeSleep)
    : socket_(std::move(socket)), context_(context), sender_(*socket_),
      punch_(context.table.clock(), context.table.local().host.identity),
      probeWorker_(
          context.settings.servers, [this](std::size_t index) { probeServer(index); },
          [this] { context_.listener.announceRequested(); }, std::move(probeSleep))
{
    socket_->setReceiveHandler([this](ByteSpan datagram, Endpoint source) { receive(datagram, source); });
}

DiscoveryEndpoint::~DiscoveryEndpoint()
{
    probeWorker_.stop();
    socket_->setReceiveHandler({});
}

bool DiscoveryEndpoint::open(std::uint16_t port, std::uint16_t lastPort)
{
    if (!socket_->bind(port) && !(lastPort != 0 && socket_->bind(lastPort)) && !socket_->bind(0))
        return false;
    auto local = context_.table.local().host;
    local.portUdp = socket_->localPort();
    context_.table.setLocal(local);
    punch_.setSelf(local.identity);
    {
        std::lock_guard lock(identityMutex_);
        probeIdentity_ = local.identity;
    }
    socket_->setMulticastTtl(kMulticastTtl);
    socket_->setReceiveBufferSize(kReceiveBufferSize);
    // Membership only lets datagrams sent to the group in; nothing is ever sent there.
    socket_->joinMulticastGroup(kMulticastGroup);
    return true;
}

// Servers are listed by dotted text; a host name cannot be resolved here and is never sent to
// (its answers could not be matched anyway, since answers are matched by dotted text).
std::optional<Endpoint> DiscoveryEndpoint::serverEndpoint(std::size_t index) const
{
    const auto server = context_.settings.servers.entry(index);
    const auto address = ipv4FromText(server.address);
    if (!address)
        return std::nullopt;
    return Endpoint{*address, server.port};
}

void DiscoveryEndpoint::announce(std::uint8_t form)
{
    const int best = context_.settings.servers.best();
    if (best < 0)
        return;
    if (const auto server = serverEndpoint(static_cast<std::size_t>(best)))
        sender_.send(controlHeader(ControlType::Announce, listedByServer_ ? form : kAnnounceFullForm),
                     encodeHostRecord(context_.table.local().host), *server);
}

void DiscoveryEndpoint::probeServer(std::size_t index)
{
    const auto server = serverEndpoint(index);
    if (!server)
        return;
    HostIdentity identity;
    {
        std::lock_guard lock(identityMutex_);
        identity = probeIdentity_;
    }
    const auto field = addressFieldFromNumber(static_cast<std::uint32_t>(index));
    sender_.send(controlHeader(ControlType::ServerProbe, 1, field), identity, *server);
}

bool DiscoveryEndpoint::sendQuery(std::string_view text, std::uint8_t flags, const NeighbourRecord& target)
{
    auto payload = encodeTextRequest(RequestKind::ShareQuery, flags, 0, context_.table.local().host, text);
    if (!payload)
        return false;
    sendRequest(std::move(*payload), target);
    return true;
}

bool DiscoveryEndpoint::sendListingRequest(std::string_view folderPath, std::uint32_t parameter,
                                           const NeighbourRecord& target)
{
    auto payload = encodeTextRequest(RequestKind::FolderListing, 0, parameter, context_.table.local().host, folderPath);
    if (!payload)
        return false;
    sendRequest(std::move(*payload), target);
    return true;
}

void DiscoveryEndpoint::sendSourceLookup(const FileKey& key, std::uint32_t parameter, const NeighbourRecord& target)
{
    sendRequest(encodeKeyRequest(parameter, context_.table.local().host, key), target);
}

bool DiscoveryEndpoint::searchAll(std::string_view text, std::uint8_t flags)
{
    const auto payload = encodeTextRequest(RequestKind::ShareQuery, flags, 0, context_.table.local().host, text);
    if (!payload)
        return false;
    for (const auto slot : context_.table.neighboursSeenWithin(NeighbourTable::kOnlineAge))
        sendRequest(*payload, context_.table.at(slot));
    return true;
}

void DiscoveryEndpoint::sendRequest(std::vector<std::uint8_t> payload, const NeighbourRecord& target)
{
    if (const auto direct = directPath(target)) {
        sender_.send(controlHeader(ControlType::Request), payload, *direct);
        return;
    }
    sendPunchProbes(target);
    const int best = context_.settings.servers.best();
    if (best < 0)
        return;
    const auto server = serverEndpoint(static_cast<std::size_t>(best));
    if (!server)
        return;
    relayIfUnanswered(payload, target, *server);
    std::copy(target.host.identity.begin(), target.host.identity.end(), payload.begin() + kTargetIdentityOffset);
    sender_.send(controlHeader(ControlType::Request), payload, *server);
}

// Both sides probe each other so that each translator lets the other's datagrams in; the punch
// schedule says when the mapped endpoint may be probed without spoiling the path.
void DiscoveryEndpoint::sendPunchProbes(const NeighbourRecord& target)
{
    if (mayReachMapped(target, PunchRole::Initiator))
        sendProbe({target.host.mapAddr, target.host.mapPort}, 0);
    // The address field tells the neighbour which of its LAN addresses we tried: it answers only then.
    if (const auto lan = context_.table.lanAddress(target))
        sendProbe(*lan, 0);
}

bool DiscoveryEndpoint::startServerProbe()
{
    return probeWorker_.start();
}

void DiscoveryEndpoint::stopServerProbe()
{
    probeWorker_.stop();
}

} // namespace vandry
