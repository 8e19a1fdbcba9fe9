#include "server/core/rendezvous_server.h"

#include "server/core/log_text.h"
#include "server/core/record_list_datagrams.h"

namespace vandry {

namespace {
constexpr std::size_t kProbeSize = ControlDatagram::kSize + 16;
constexpr std::size_t kAnnounceSize = ControlDatagram::kSize + HostRecord::kSize;
constexpr std::uint8_t kProbeSubType = 1;
constexpr std::uint8_t kProbeAnswerSubType = 2;
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

RendezvousServer::RendezvousServer(DatagramSocket& socket, const Clock& clock, RendezvousSettings settings, LogSink log)
    : socket_(socket), clock_(clock), copies_(settings.maxCopies, settings.forgetAfterSeconds), log_(std::move(log))
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
    for (const auto& record : copies_.forgetSilent(clock_.nowSeconds()))
        log_("copy forgotten: " + copyText(record) + " (" + std::to_string(copies_.size()) + " kept)");
}

void RendezvousServer::handleControl(ByteSpan datagram, Endpoint source)
{
    switch (static_cast<ControlType>(datagram[2])) {
    case ControlType::ServerProbe:
        answerProbe(datagram, source);
        break;
    case ControlType::Announce:
        if (datagram.size() == kAnnounceSize)
            handleAnnounce(datagram.subspan(ControlDatagram::kSize), source);
        break;
    case ControlType::Request:
        deliver(forwardRelayedRequest(datagram, source), "relayed request", source);
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

void RendezvousServer::handleAnnounce(ByteSpan payload, Endpoint source)
{
    ByteReader in(payload);
    auto record = parseHostRecord(in);
    if (!record || isZero(record->identity))
        return;
    record->mapAddr = source.address;
    record->mapPort = source.port;
    const std::int64_t now = clock_.nowSeconds();
    if (copies_.full())
        forgetSilentCopies();
    const AnnounceOutcome outcome = copies_.remember(*record, now);
    logAnnounce(outcome, *record);
    const auto others = copies_.liveOthers(record->identity, now, kMaxListedCopies);
    sendList(ControlType::Records, 0, others, source);
    if (outcome == AnnounceOutcome::New || outcome == AnnounceOutcome::Moved)
        pushToOthers(*record, now);
}

void RendezvousServer::logAnnounce(AnnounceOutcome outcome, const HostRecord& record)
{
    const std::string kept = " (" + std::to_string(copies_.size()) + " kept)";
    switch (outcome) {
    case AnnounceOutcome::New:
        refusalLogged_ = false;
        log_("new copy: " + copyText(record) + kept);
        break;
    case AnnounceOutcome::Moved:
        log_("copy moved: " + copyText(record));
        break;
    case AnnounceOutcome::Refreshed:
        break;
    case AnnounceOutcome::Refused:
        if (!refusalLogged_)
            log_("table full, refusing new copies such as " + copyText(record) + kept);
        refusalLogged_ = true;
        break;
    }
}

void RendezvousServer::pushToOthers(const HostRecord& record, std::int64_t now)
{
    const auto datagrams = buildRecordListDatagrams(ControlType::RecordsUpdate, kPushSubType, {&record, 1});
    for (const auto& other : copies_.liveOthers(record.identity, now, copies_.size()))
        for (const auto& datagram : datagrams)
            socket_.sendTo(datagram, {other.mapAddr, other.mapPort});
}

void RendezvousServer::sendList(ControlType type, std::uint8_t subType, std::span<const HostRecord> records,
                                Endpoint to)
{
    for (const auto& datagram : buildRecordListDatagrams(type, subType, records))
        socket_.sendTo(datagram, to);
}

void RendezvousServer::deliver(const std::optional<RoutedPacket>& packet, const char* what, Endpoint source)
{
    if (!packet)
        return;
    const auto target = copies_.findLive(packet->destination, clock_.nowSeconds());
    if (!target)
        return;
    const Endpoint to{target->mapAddr, target->mapPort};
    socket_.sendTo(packet->bytes, to);
    log_(std::string(what) + " from " + endpointText(source) + " to " + copyText(*target));
}

} // namespace vandry
