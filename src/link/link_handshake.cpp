// The opening of a conversation: hello, acknowledgement, request; and the peer's error report.

#include <algorithm>

#include "link/file_link.h"

namespace vandry {

void FileLink::onLinkConnected()
{
    // Only the side that opened the link speaks first.
    if (role_ != LinkRole::Requester || phase_ != LinkPhase::Connecting)
        return;
    requestDeadline_->stop();
    const auto own = encodeHostRecord(env_.neighbours.local().host);
    const auto known = encodePeerInfo(peer_);
    const auto payload = sendPayload();
    std::copy(own.begin(), own.end(), payload.begin());
    std::copy(known.begin() + PeerInfo::kHelloTailOffset, known.end(), payload.begin() + HostRecord::kSize);
    phase_ = LinkPhase::HelloSent;
    sendFrame(PeerInfo::kSize, kFrameHello, kSubHello);
}

bool FileLink::onHelloFrame(std::uint8_t sub, ByteSpan payload)
{
    if (sub == kSubHello)
        return acceptHello(payload);
    if (sub == kSubHelloAck && phase_ == LinkPhase::HelloSent)
        onHelloAck();
    return true;
}

bool FileLink::acceptHello(ByteSpan payload)
{
    if (role_ != LinkRole::Sharer || phase_ != LinkPhase::AwaitingHello)
        return false;
    // The requester's own HostRecord and the tail of what it knows of this side.
    ByteReader in(payload);
    const auto peer = parsePeerInfo(in);
    if (!peer)
        return false;
    peer_ = *peer;
    sessionTag_ = env_.random();
    phase_ = LinkPhase::Greeted;
    sendFrame(0, kFrameHello, kSubHelloAck);
    return true;
}

void FileLink::onHelloAck()
{
    if (joinsFolder_) {
        dirMode_ = true;
        fetchNextFile();
        return;
    }
    const auto record = encodeTaskRecord(request_);
    std::copy(record.begin(), record.end(), sendPayload().begin());
    phase_ = LinkPhase::Requesting;
    sendFrame(record.size(), request_.directory != 0 ? kFrameFolder : kFrameFile, kSubFileRequest);
    markTrxferException(kReportPreparing);
}

bool FileLink::onErrorReport(ByteSpan payload)
{
    if (phase_ == LinkPhase::Idle)
        return false;
    // The text may lack its zero: it ends with the frame.
    const std::string text = errorReportText(payload);
    markTrxferException(kReportPeerFailed.withText(text));
    return true;
}

} // namespace vandry
