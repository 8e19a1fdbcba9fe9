// The block exchange of a link ('D' and 'E'): map answers and data on the sharer's side, the
// scheduler and block writes on the requester's.

#include <algorithm>
#include <vector>

#include "link/block_exchange.h"
#include "link/file_link.h"
#include "link/segment_scheduler.h"

namespace vandry {

bool FileLink::onBlockMapFrame(std::uint8_t sub, ByteSpan frame)
{
    if (sub == kSubMapRequest)
        return answerBlockMap(frame);
    if (sub == kSubMapAnswer) {
        if (role_ != LinkRole::Requester)
            return false;
        onSharerMap(frame);
    }
    return true;
}

bool FileLink::answerBlockMap(ByteSpan frame)
{
    if (role_ != LinkRole::Sharer || !stream_.entry())
        return false;
    auto lacking = parseBlockMap(frame.subspan(FrameHeader::kSize), MapInput::CutAtCapacity);
    if (!lacking)
        return false;
    const BlockMap offered = advertisedMap(stream_, env_.openStreams);
    sendMapFrame(offered, kFrameBlockMap, kSubMapAnswer, 0);
    // What remains is held by the requester but not here.
    applyRanges(offered, *lacking, false);
    if (!lacking->empty())
        markTrxferException(kReportPeerBehind);
    return true;
}

void FileLink::onSharerMap(ByteSpan frame)
{
    if (phase_ != LinkPhase::Fetching) {
        markTrxferException(kReportSyncFailed);
        return;
    }
    std::vector<ScheduledLink> others;
    env_.roster.forEachLink([&](FileLink& link) {
        if (&link != this)
            others.push_back({&link.stream_, link.peer_.identity(), link.index()});
    });
    const auto outcome =
        scheduleSegment({&stream_, peer_.identity(), index()}, others, frame.subspan(FrameHeader::kSize));
    if (!outcome.logText.empty())
        env_.log.append(outcome.logText);
    switch (outcome.result) {
    case ScheduleResult::Fetch:
        requestBlocks(stream_.range().position, stream_.entry()->map);
        return;
    case ScheduleResult::SharerDone:
        markTrxferException(kReportSegmentsDone);
        return;
    case ScheduleResult::FileComplete:
        markTrxferException(kReportTransferEnded);
        return;
    case ScheduleResult::InvalidMap:
        markTrxferException(kReportSyncFailed);
        return;
    }
}

bool FileLink::onBlocksFrame(std::uint8_t sub, ByteSpan frame)
{
    if (sub == kSubBlockRequest)
        return answerBlockRequest(frame);
    if (sub == kSubBlockData) {
        if (role_ != LinkRole::Requester || phase_ != LinkPhase::Fetching)
            return false;
        onBlockData(frame);
    }
    return true;
}

bool FileLink::answerBlockRequest(ByteSpan frame)
{
    if (role_ != LinkRole::Sharer || !stream_.entry())
        return false;
    const auto request = parseFrameHeader(frame);
    if (!request)
        return false;
    // The requester waits for each answer, so at most one is held; a request arriving meanwhile
    // replaces it.
    heldRequest_ = *request;
    answerHeldRequest();
    return true;
}

// Answers now, or holds the request until the upload limit lets the answer go.
void FileLink::answerHeldRequest()
{
    const FrameHeader request = *heldRequest_;
    const std::size_t blocks = std::min(request.count, kMaxBlocksPerRequest);
    const auto wait = env_.uploads.delayFor(blocks * kBlockSize);
    if (wait.count() > 0) {
        answerTimer_->start(wait, [this] { onAnswerDue(); });
        return;
    }
    heldRequest_.reset();
    // The answer keeps the request's count and block.
    storeFrameHeader(sendBuffer(), request);
    const auto into = sendPayload().first(std::size_t{kMaxBlocksPerRequest} * kBlockSize);
    const std::size_t read = readBlocks(stream_, env_.openStreams, request.block, request.count, into);
    if (read == 0) {
        markTrxferException(kReportPeerReadFailed);
        return;
    }
    sendFrame(read, kFrameBlocks, kSubBlockData);
}

void FileLink::onAnswerDue()
{
    answerTimer_->stop();
    if (heldRequest_)
        answerHeldRequest();
}

void FileLink::onBlockData(ByteSpan frame)
{
    const auto answer = parseFrameHeader(frame);
    if (!answer)
        return;
    const ByteSpan data = frame.subspan(FrameHeader::kSize);
    std::uint32_t block = answer->block;
    switch (writeBlocks(stream_, block, data)) {
    case WriteResult::Continue:
        unsavedBytes_ += data.size();
        if (unsavedBytes_ >= kSaveInterval) {
            stream_.saveProgress();
            unsavedBytes_ = 0;
        }
        requestBlocks(block, {});
        return;
    case WriteResult::RangeDone:
        unsavedBytes_ = 0;
        sendMap();
        return;
    case WriteResult::Failed:
        markTrxferException(kReportWriteFailed);
        return;
    }
}

void FileLink::sendMap()
{
    const StreamEntry* entry = stream_.entry();
    sendMapFrame(entry ? entry->map : BlockMap{}, kFrameBlockMap, kSubMapRequest, 0);
}

// A data request carries the own map along (the first of a range), which the sharer does not read.
void FileLink::requestBlocks(std::uint32_t block, const BlockMap& carried)
{
    sendMapFrame(carried, kFrameBlocks, kSubBlockRequest, block);
}

// Block frames carry the session tag; a data request asks for the rest of the range, 63 blocks at
// most.
void FileLink::sendMapFrame(const BlockMap& map, std::uint8_t type, std::uint8_t sub, std::uint32_t block)
{
    std::vector<std::uint8_t> payload;
    ByteWriter out(payload);
    encodeBlockMap(map, out);
    std::copy(payload.begin(), payload.end(), sendPayload().begin());
    FrameHeader header;
    header.length = static_cast<std::uint16_t>(FrameHeader::kSize + payload.size());
    header.type = type;
    header.sub = sub;
    header.tag = static_cast<std::uint16_t>(sessionTag_);
    const FetchRange& range = stream_.range();
    const std::uint32_t left = range.end > block ? range.end - block : 1;
    header.count =
        type == kFrameBlocks ? static_cast<std::uint8_t>(std::min<std::uint32_t>(left, kMaxBlocksPerRequest)) : 0;
    header.block = block;
    storeFrameHeader(sendBuffer(), header);
    sendRaw(ByteSpan(sendBuffer()).first(header.length));
}

} // namespace vandry
