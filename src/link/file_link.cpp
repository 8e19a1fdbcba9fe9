#include "link/file_link.h"

#include "link/tcp_address.h"

namespace vandry {

FileLink::FileLink(LinkIndex index, const LinkEnvironment& environment)
    : LinkSocket(index, environment.transports), env_(environment),
      stream_(environment.streams, environment.openStreams), answerTimer_(environment.loop.createTimer()),
      requestDeadline_(environment.loop.createTimer())
{
}

void FileLink::startLink(const LinkRequest& link)
{
    resetLink();
    request_ = link.request;
    peer_ = link.peer;
    taskId_ = link.taskId;
    source_ = link.source.value_or(SourceInfo{});
    localFile_ = link.localFile;
    joinsFolder_ = link.joinsFolder && request_.directory != 0;
    if (request_.directory != 0) {
        remoteRoot_ = request_.remotePath;
        localRoot_ = request_.localPath;
    }
    role_ = LinkRole::Requester;
    phase_ = LinkPhase::Connecting;
    // What the neighbour table knows now beats the record the task was started with.
    const auto slot = env_.neighbours.find(peer_.identity(), false);
    connectTo(slot ? env_.neighbours.at(*slot) : peer_.neighbour, link.viaDatagram);
}

void FileLink::connectTo(const NeighbourRecord& neighbour, bool viaDatagram)
{
    std::optional<Endpoint> address;
    if (neighbour.datagramOnly == 0 && !viaDatagram)
        address = chooseTcpAddress(env_.neighbours, neighbour);
    if (address) {
        openTcp(*address);
        peerEndpoint_ = *address;
        if (!inUse())
            failLink(kReportConnectFailed);
        else
            requestDeadline_->start(kConnectDeadline, [this] { onConnectDeadline(); });
        return;
    }
    useDatagramTransport();
    if (!env_.connector.connect(index(), neighbour))
        failLink(kReportConnectFailed);
}

void FileLink::acceptConnection(std::unique_ptr<StreamSocket> connection)
{
    resetLink();
    if (!connection)
        return;
    role_ = LinkRole::Sharer;
    phase_ = LinkPhase::AwaitingHello;
    peerEndpoint_ = connection->peer();
    requestDeadline_->start(kRequestDeadline, [this] { onRequestDeadline(); });
    acceptTcp(std::move(connection));
}

void FileLink::acceptDatagramConnection()
{
    resetLink();
    role_ = LinkRole::Sharer;
    phase_ = LinkPhase::AwaitingHello;
    requestDeadline_->start(kRequestDeadline, [this] { onRequestDeadline(); });
    useDatagramTransport();
}

void FileLink::onRequestDeadline()
{
    requestDeadline_->stop();
    if (phase_ == LinkPhase::AwaitingHello || phase_ == LinkPhase::Greeted)
        failLink(kReportNetworkLost);
}

void FileLink::onConnectDeadline()
{
    requestDeadline_->stop();
    if (role_ == LinkRole::Requester && phase_ == LinkPhase::Connecting && transport() == LinkTransport::Tcp)
        failLink(kReportConnectFailed);
}

void FileLink::failLink(const LinkReport& report)
{
    const auto conversation = conversation_;
    if (!isZero(taskId_))
        markTrxferException(report);
    if (conversation == conversation_)
        resetLink();
}

void FileLink::resetLink()
{
    ++conversation_;
    taskId_ = {};
    source_ = {};
    stream_.close();
    role_ = LinkRole::Idle;
    phase_ = LinkPhase::Idle;
    peerEndpoint_.reset();
    sentBytes_ = 0;
    unsavedBytes_ = 0;
    lastSaveMs_.reset();
    requests_.reset();
    dirMode_ = false;
    joinsFolder_ = false;
    mapSentWithRequest_ = false;
    askedAhead_.clear();
    blocksAskedWithRequest_ = 0;
    requestsDroppedOnRefusal_ = 0;
    remoteRoot_.clear();
    localRoot_.clear();
    folderEntriesListed_ = 0;
    folderFirstName_.clear();
    // An answer held for the old conversation must not reach the next one.
    heldRequest_.reset();
    answerTimer_->stop();
    requestDeadline_->stop();
    reset();
}

void FileLink::onTransferEnd(bool success)
{
    // A sharer's transfer ends when the requester goes away.
    if (stream_.mode() == StreamMode::Read)
        return;
    // Only a file that ended whole is done: a map that made no sense ends a transfer too.
    if (dirMode_)
        onFolderFileEnd(success && event_.code == kReportTransferEnded.code);
    else
        resetLink();
}

void FileLink::onFrameRefused(std::uint8_t, std::uint8_t)
{
    resetLink();
}

void FileLink::onFrame(MutableByteSpan frame)
{
    const std::uint8_t type = frame[FrameHeader::kTypeOffset];
    const std::uint8_t sub = frame[FrameHeader::kSubOffset];
    if (!handleFrame(type, sub, frame))
        onFrameRefused(type, sub);
}

// False takes the refusal path; a handler that has reported returns true, since the report may
// already have ended (or replaced) the conversation.
bool FileLink::handleFrame(std::uint8_t type, std::uint8_t sub, MutableByteSpan frame)
{
    const ByteSpan payload = ByteSpan(frame).subspan(FrameHeader::kSize);
    switch (type) {
    case kFrameHello:
        return onHelloFrame(sub, payload);
    case kFrameFile:
        return onFileFrame(sub, payload);
    case kFrameBlockMap:
        return onBlockMapFrame(sub, frame);
    case kFrameBlocks:
        return onBlocksFrame(sub, frame);
    case kFrameFolder:
        return onFolderFrame(sub, payload);
    case kFrameErrorReport:
        return onErrorReport(payload);
    default:
        return false;
    }
}

} // namespace vandry
