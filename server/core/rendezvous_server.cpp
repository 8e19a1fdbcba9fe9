#include "server/core/rendezvous_server.h"

#include <algorithm>
#include <set>

#include "discovery/relay_envelope.h"
#include "server/core/log_text.h"
#include "server/core/record_list_datagrams.h"

namespace vandry {

namespace {
constexpr std::size_t kProbeSize = ControlDatagram::kSize + 16;
constexpr std::size_t kAnnounceSize = ControlDatagram::kSize + HostRecord::kSize;
constexpr std::size_t kEchoSize = ControlDatagram::kSize + EndpointChecks::kNonceSize;
constexpr std::uint8_t kProbeSubType = 1;
constexpr std::uint8_t kProbeAnswerSubType = 2;
constexpr std::uint8_t kFullListSubType = 1; // copies announce with sub-type 1 when they want everything
constexpr std::uint8_t kEchoAnswerSubType = 1;
constexpr std::uint8_t kPushSubType = 1; // sub-type 1 makes the copy refresh its neighbour window

std::string endpointText(Endpoint endpoint)
{
    return ipv4ToText(endpoint.address) + ":" + std::to_string(endpoint.port);
}

std::string copyText(const HostRecord& record)
{
    return identityText(record.identity) + " \"" + printableForLog(record.nickname()) + "\" at " +
           endpointText({record.mapAddr, record.mapPort});
}
} // namespace

RendezvousServer::RendezvousServer(DatagramSocket& socket, const Clock& clock, RendezvousSettings settings, LogSink log,
                                   CopyRegistry* registry)
    : socket_(socket), clock_(clock), settings_(settings),
      copies_(settings.maxCopies, settings.forgetAfterSeconds, settings.limits.identitiesPerAddress),
      checks_(settings.maxPendingChecks, settings.checkExpirySeconds), limits_(settings.limits),
      pushBudget_(settings.pushes, clock.tickMs()), relayBudget_(settings.relay, clock.tickMs()), log_(std::move(log)),
      registry_(registry)
{
    socket_.setReceiveHandler([this](ByteSpan datagram, Endpoint source) { handleDatagram(datagram, source); });
}

RendezvousServer::~RendezvousServer()
{
    socket_.setReceiveHandler(nullptr);
}

void RendezvousServer::handleDatagram(ByteSpan datagram, Endpoint source)
{
    switch (classifyDatagram(datagram)) {
    case DatagramClass::Control:
        handleControl(datagram, source);
        break;
    case DatagramClass::ReliableTransport:
        deliver(callFromRelay(datagram, source), "relayed call", source);
        break;
    case DatagramClass::Drop:
        break;
    }
}

void RendezvousServer::forgetSilentCopies()
{
    const std::int64_t now = clock_.nowSeconds();
    for (const auto& record : copies_.forgetSilent(now))
        log_("copy forgotten: " + copyText(record) + " (" + std::to_string(copies_.size()) + " kept)");
    checks_.forgetExpired(now);
    limits_.forgetIdle(clock_.tickMs());
    relayBudget_.forgetIdle(clock_.tickMs());
}

void RendezvousServer::handleControl(ByteSpan datagram, Endpoint source)
{
    switch (static_cast<ControlType>(datagram[2])) {
    case ControlType::ServerProbe:
        answerProbe(datagram, source);
        break;
    case ControlType::Announce:
        if (datagram.size() == kAnnounceSize)
            handleAnnounce(datagram[3], datagram.subspan(ControlDatagram::kSize), source);
        break;
    case ControlType::Echo:
        handleEcho(datagram, source);
        break;
    case ControlType::Request:
        deliver(forwardRelayedRequest(datagram, source), "relayed request", source);
        break;
    case ControlType::Relay:
        carry(datagram, source);
        break;
    default:
        break;
    }
}

void RendezvousServer::answerProbe(ByteSpan datagram, Endpoint source)
{
    if (datagram.size() != kProbeSize || datagram[3] != kProbeSubType)
        return;
    ControlDatagram answer;
    answer.type = static_cast<std::uint8_t>(ControlType::ServerProbe);
    answer.subType = kProbeAnswerSubType;
    answer.word = source.port;
    answer.address = source.address;
    // The identity goes back as it came, so the answer is no larger than the probe.
    if (const auto bytes = buildControlDatagram(answer, datagram.subspan(ControlDatagram::kSize)))
        socket_.sendTo(*bytes, source);
}

void RendezvousServer::handleAnnounce(std::uint8_t subType, ByteSpan payload, Endpoint source)
{
    ++stats_.announces;
    ByteReader in(payload);
    auto record = parseHostRecord(in);
    if (!record || isZero(record->identity))
        return;
    if (!limits_.allow(source.address, SourceBudget::Announce, clock_.tickMs()))
        return refuse(Refusal::RateLimited, source);
    record->mapAddr = source.address;
    record->mapPort = source.port;
    KeptCopy* copy = copies_.find(record->identity);
    if (copy && copies_.endpoint(*copy) == source) {
        // Known from another server at this very endpoint, which that server verified.
        copies_.makeLocal(*copy);
        if (copies_.refresh(*copy, *record, clock_.nowSeconds()))
            log_("copy changed: " + copyText(*record));
        publish(*copy);
        return answerKnown(*copy, subType == kFullListSubType, source);
    }
    if (copy && !quietLongEnough(*copy))
        return refuse(Refusal::IdentityInUse, source);
    if (!copy && copies_.full() && clock_.nowSeconds() != lastFullTableSweep_) {
        lastFullTableSweep_ = clock_.nowSeconds(); // a sweep walks the whole table: once a second at most
        forgetSilentCopies();
    }
    if (!copy && copies_.admissible(source.address) != Admission::Admitted)
        return refuse(copies_.full() ? Refusal::TableFull : Refusal::AddressFull, source);
    startCheck(*record, source);
}

void RendezvousServer::startCheck(const HostRecord& record, Endpoint source)
{
    const auto nonce = checks_.start(record, source, clock_.nowSeconds());
    if (!nonce)
        return refuse(Refusal::ChecksBusy, source);
    ++stats_.checksSent;
    socket_.sendTo(EndpointChecks::checkDatagram(*nonce), source);
}

void RendezvousServer::handleEcho(ByteSpan datagram, Endpoint source)
{
    if (datagram.size() != kEchoSize || datagram[3] != kEchoAnswerSubType)
        return;
    const auto record = checks_.confirm(source, datagram.subspan(ControlDatagram::kSize), clock_.nowSeconds());
    if (!record)
        return;
    ++stats_.checksPassed;
    KeptCopy* copy = copies_.find(record->identity);
    if (!copy)
        return admit(*record, source);
    if (copies_.endpoint(*copy) == source) {
        copies_.makeLocal(*copy);
        publish(*copy);
        return answerKnown(*copy, true, source);
    }
    if (!quietLongEnough(*copy))
        return refuse(Refusal::IdentityInUse, source);
    moveTo(*copy, *record, source);
}

void RendezvousServer::admit(const HostRecord& record, Endpoint source)
{
    KeptCopy* copy = copies_.admit(record, clock_.nowSeconds());
    if (!copy) {
        const bool full = copies_.full();
        if (full && !refusalLogged_)
            log_("table full, refusing new copies such as " + copyText(record) + " (" + std::to_string(copies_.size()) +
                 " kept)");
        refusalLogged_ = refusalLogged_ || full;
        return refuse(full ? Refusal::TableFull : Refusal::AddressFull, source);
    }
    refusalLogged_ = false;
    ++stats_.newCopies;
    log_("new copy: " + copyText(record) + " (" + std::to_string(copies_.size()) + " kept)");
    publish(*copy);
    sendFullList(*copy, source);
    pushNewcomer(*copy);
}

void RendezvousServer::moveTo(KeptCopy& copy, const HostRecord& record, Endpoint source)
{
    if (!copies_.move(copy, record, clock_.nowSeconds()))
        return refuse(Refusal::AddressFull, source);
    ++stats_.movedCopies;
    log_("copy moved: " + copyText(record));
    publish(copy);
    sendFullList(copy, source);
    pushNewcomer(copy);
}

void RendezvousServer::publish(const KeptCopy& copy)
{
    if (registry_)
        registry_->publish({copies_.record(copy), copy.lastHeard});
}

void RendezvousServer::takeRegistrySnapshot(std::span<const RegistryEntry> entries)
{
    std::set<HostIdentity> inRegistry;
    for (RegistryEntry entry : entries) {
        // Another server's clock, or a damaged entry, may claim a copy heard in the future.
        entry.heardAt = std::min(entry.heardAt, clock_.nowSeconds());
        inRegistry.insert(entry.record.identity);
        KeptCopy* copy = copies_.find(entry.record.identity);
        if (!copy) {
            copies_.admitRemote(entry.record, entry.heardAt);
        } else if (copy->remote) {
            copies_.updateRemote(*copy, entry.record, entry.heardAt);
        } else if (Endpoint{entry.record.mapAddr, entry.record.mapPort} != copies_.endpoint(*copy) &&
                   entry.heardAt > copy->lastHeard && quietLongEnough(*copy)) {
            log_("copy went to another server: " + copyText(entry.record));
            copies_.makeRemote(*copy, entry.record, entry.heardAt);
        }
    }
    copies_.forgetRemoteUnless([&](const HostIdentity& identity) { return inRegistry.contains(identity); });
}

bool RendezvousServer::quietLongEnough(const KeptCopy& copy) const
{
    return clock_.nowSeconds() - copy.lastHeard >= settings_.moveQuietSeconds;
}

void RendezvousServer::answerKnown(KeptCopy& copy, bool asksForFullList, Endpoint source)
{
    const std::int64_t sinceFullList = clock_.nowSeconds() - copy.lastFullList;
    if (sinceFullList >= settings_.fullListAfterSeconds ||
        (asksForFullList && sinceFullList >= settings_.minFullListGapSeconds))
        return sendFullList(copy, source);
    ListGroup& group = copies_.groupOf(copy);
    if (group.version() <= copy.listedVersion)
        return; // nothing new: the copy's list is current
    const auto changes = group.changedSince(copy.listedVersion, settings_.maxUpdateRecords);
    if (!changes) {
        // Many changes, as while a group fills: the chunks they fall in, as built for everyone.
        if (!limits_.allow(source.address, SourceBudget::List, clock_.tickMs()))
            return refuse(Refusal::RateLimited, source);
        ++stats_.updateLists;
        for (const auto* datagram : group.chunksChangedSince(copy.listedVersion))
            send(*datagram, source);
        copy.listedVersion = group.version();
        return;
    }
    copy.listedVersion = group.version();
    if (changes->empty())
        return; // only departures, which the copy notices by itself as their records age
    ++stats_.updateLists;
    for (const auto& datagram : buildRecordListDatagrams(ControlType::Records, 0, *changes))
        send(datagram, source);
}

void RendezvousServer::send(const std::vector<std::uint8_t>& listDatagram, Endpoint to)
{
    ++stats_.listDatagrams;
    stats_.listBytes += listDatagram.size();
    socket_.sendTo(listDatagram, to);
}

void RendezvousServer::sendFullList(KeptCopy& copy, Endpoint to)
{
    if (!limits_.allow(to.address, SourceBudget::List, clock_.tickMs()))
        return refuse(Refusal::RateLimited, to);
    ListGroup& group = copies_.groupOf(copy);
    ++stats_.fullLists;
    for (const auto* datagram : copies_.fullList(copy))
        send(*datagram, to);
    copy.lastFullList = clock_.nowSeconds();
    copy.listedVersion = group.version();
}

void RendezvousServer::pushNewcomer(const KeptCopy& copy)
{
    ListGroup& group = copies_.groupOf(copy);
    const HostRecord& newcomer = copies_.record(copy);
    const double others = static_cast<double>(group.members() - 1);
    if (others == 0)
        return;
    if (!pushBudget_.take(clock_.tickMs(), others)) {
        ++stats_.pushesSkipped; // the others find it among the changes at their next announce
        return;
    }
    const auto datagram = buildRecordListDatagrams(ControlType::RecordsUpdate, kPushSubType, {&newcomer, 1}).front();
    group.forEachMember([&](const HostRecord& other) {
        const KeptCopy* member = copies_.find(other.identity);
        if (other.identity == newcomer.identity || !member || member->remote)
            return;
        ++stats_.pushDatagrams;
        socket_.sendTo(datagram, {other.mapAddr, other.mapPort});
    });
}

void RendezvousServer::refuse(Refusal why, Endpoint source)
{
    ++stats_.refusals[static_cast<std::size_t>(why)];
    if (!limits_.allow(source.address, SourceBudget::Refusal, clock_.tickMs()))
        return;
    ControlDatagram refusal;
    refusal.type = kRefusalType;
    refusal.subType = static_cast<std::uint8_t>(why);
    socket_.sendTo(*buildControlDatagram(refusal, {}), source);
}

void RendezvousServer::deliver(const std::optional<RoutedPacket>& packet, const char* what, Endpoint source)
{
    if (!packet)
        return;
    if (!limits_.allow(source.address, SourceBudget::Relay, clock_.tickMs()))
        return refuse(Refusal::RateLimited, source);
    const auto target = copies_.findLive(packet->destination, clock_.nowSeconds());
    if (!target)
        return;
    ++stats_.relayed;
    stats_.relayedBytes += packet->bytes.size();
    socket_.sendTo(packet->bytes, {target->mapAddr, target->mapPort});
    log_(std::string(what) + " from " + endpointText(source) + " to " + copyText(*target));
}

bool RendezvousServer::isLocalCopyAt(const HostIdentity& identity, Endpoint endpoint) const
{
    const auto it = copies_.find(identity);
    return it && !it->remote && copies_.endpoint(*it) == endpoint &&
           clock_.nowSeconds() - it->lastHeard < settings_.forgetAfterSeconds;
}

void RendezvousServer::carry(ByteSpan datagram, Endpoint source)
{
    const auto envelope = parseRelayEnvelope(datagram);
    if (!envelope || envelope->subType != RelayEnvelope::kToServer || envelope->sender == envelope->receiver)
        return;
    // Only a copy that proved this very endpoint may send, and only to a copy that announces to us:
    // one registered elsewhere has no mapping open towards this server.
    if (!isLocalCopyAt(envelope->sender, source))
        return;
    const KeptCopy* target = copies_.find(envelope->receiver);
    if (!target || !isLocalCopyAt(envelope->receiver, copies_.endpoint(*target)))
        return;
    if (!relayBudget_.take(envelope->sender, datagram.size(), clock_.tickMs())) {
        ++stats_.relayOverBudget;
        return;
    }
    std::vector<std::uint8_t> out(datagram.begin(), datagram.end());
    out[3] = RelayEnvelope::kFromServer;
    ++stats_.relayed;
    stats_.relayedBytes += out.size();
    socket_.sendTo(out, copies_.endpoint(*target));
}

} // namespace vandry
