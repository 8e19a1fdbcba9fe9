#include "link/link_table.h"

#include "common/hex.h"

namespace vandry {

namespace {
constexpr std::size_t kFirstUsableLink = 1;
} // namespace

LinkTable::LinkTable(LinkTableContext context)
    : context_(std::move(context)), uploads_(context_.clock, context_.uploadLimit),
      environment_{
          {context_.sockets, context_.datagrams, context_.clock},
          context_.connector,
          context_.neighbours,
          context_.streams,
          *this,
          *this,
          context_.log,
          context_.events,
          roots_,
          context_.loop,
          uploads_,
          context_.folders,
          context_.random,
      },
      listener_(context_.sockets, context_.loop,
                [this](std::unique_ptr<StreamSocket>& connection) { return acceptConnection(connection); })
{
    for (std::size_t i = 0; i < kLinks; ++i)
        links_[i] = std::make_unique<FileLink>(LinkIndex{static_cast<std::uint16_t>(i)}, environment_);
}

// Links are destroyed as they stand: an orderly end is resetAllLinks first.
LinkTable::~LinkTable() = default;

bool LinkTable::startListening(std::uint16_t port)
{
    const auto bound = listener_.start(port);
    if (!bound)
        return false;
    publishPort(*bound);
    return true;
}

void LinkTable::publishPort(std::uint16_t port)
{
    HostRecord local = context_.neighbours.local().host;
    local.portTcp = port;
    context_.neighbours.setLocal(local);
}

bool LinkTable::acceptConnection(std::unique_ptr<StreamSocket>& connection)
{
    const auto free = findFreeIncomingLink(connection->peer().address);
    if (!free)
        return false;
    link(*free).acceptConnection(std::move(connection));
    return true;
}

std::optional<LinkIndex> LinkTable::findFreeLink() const
{
    for (std::size_t i = kFirstUsableLink; i < kLinks; ++i)
        if (!links_[i]->inUse())
            return LinkIndex{static_cast<std::uint16_t>(i)};
    return std::nullopt;
}

std::optional<LinkIndex> LinkTable::findFreeIncomingLink(std::optional<Ipv4> peer) const
{
    std::size_t inUse = 0;
    int fromPeer = 0;
    for (std::size_t i = kFirstUsableLink; i < kLinks; ++i) {
        const FileLink& slot = *links_[i];
        if (!slot.inUse())
            continue;
        ++inUse;
        if (peer && slot.role() == LinkRole::Sharer && slot.peerEndpoint() && slot.peerEndpoint()->address == *peer)
            ++fromPeer;
    }
    if (inUse + kSlotsKeptForDownloads >= kLinks - kFirstUsableLink || fromPeer >= kLinksPerAddress)
        return std::nullopt;
    return findFreeLink();
}

void LinkTable::openLink(const LinkRequest& request)
{
    if (const auto free = findFreeLink())
        link(*free).startLink(request);
}

std::optional<LinkIndex> LinkTable::openIncomingDatagramLink()
{
    const auto free = findFreeIncomingLink(std::nullopt);
    if (free)
        link(*free).acceptDatagramConnection();
    return free;
}

int LinkTable::countTaskLinks(const HostIdentity& task) const
{
    int count = 0;
    for (std::size_t i = kFirstUsableLink; i < kLinks; ++i)
        if (links_[i]->inUse() && links_[i]->taskId() == task)
            ++count;
    return count;
}

bool LinkTable::hasDuplicateSourceLink(const FileDigest& digest, const HostIdentity& peer) const
{
    const std::string text = hexEncode(digest);
    std::optional<StreamSlot> entry;
    for (std::size_t i = 0; i < StreamTable::kSlots && !entry; ++i) {
        const StreamSlot slot{static_cast<std::uint8_t>(i)};
        if (context_.streams.inUse(slot) && context_.streams.at(slot).info.digest() == text)
            entry = slot;
    }
    if (!entry)
        return false;
    int count = 0;
    for (const auto& link : links_) {
        const auto& stream = link->stream();
        if (link->inUse() && stream.writes() && stream.slot() == entry && link->peer().identity() == peer)
            ++count;
    }
    return count >= 2;
}

void LinkTable::stopTaskLinks(const HostIdentity& task, bool force, std::optional<StreamSlot> entry)
{
    if (!entry)
        entry = context_.streams.findByOwner(task);
    for (auto& link : links_) {
        const bool onTask = !isZero(task) && link->taskId() == task;
        const bool onFile = entry && link->stream().slot() == entry;
        const bool serving = link->stream().mode() == StreamMode::Read;
        if (link->inUse() && (onTask || onFile) && (force || !serving))
            link->resetLink();
    }
}

void LinkTable::sweepIdleLinks()
{
    const auto now = context_.clock.nowSeconds();
    for (auto& link : links_)
        if (link->inUse() && now - link->lastActivity() > kIdleSeconds)
            link->failLink(kReportNetworkLost);
}

void LinkTable::resetAllLinks()
{
    for (auto& link : links_)
        if (link->inUse())
            link->resetLink();
}

LinkSlotState LinkTable::slotState(LinkIndex index) const
{
    const FileLink& slot = link(index);
    const bool datagram = slot.transport() != LinkTransport::Tcp;
    return {slot.inUse() && !datagram, datagram, slot.peerEndpoint()};
}

std::vector<UploadView> LinkTable::uploads() const
{
    std::vector<UploadView> uploads;
    for (std::size_t i = 0; i < kLinks; ++i) {
        const FileLink& slot = *links_[i];
        if (slot.inUse() && slot.role() == LinkRole::Sharer && slot.phase() == LinkPhase::Serving)
            uploads.push_back({static_cast<LinkIndex>(i), slot.peer().neighbour.host.nickname(),
                               slot.request().remotePath, slot.sentBytes()});
    }
    return uploads;
}

void LinkTable::forEachStream(const std::function<void(const FileStream&)>& visit) const
{
    for (const auto& link : links_)
        visit(link->stream());
}

void LinkTable::forEachLink(const std::function<void(FileLink&)>& visit)
{
    for (auto& link : links_)
        visit(*link);
}

} // namespace vandry
