// The block exchange of a link ('D' and 'E'): map answers and data on the sharer's side, the
// scheduler and block writes on the requester's.

#include <algorithm>
#include <utility>
#include <vector>

#include "link/block_exchange.h"
#include "link/file_link.h"
#include "link/segment_scheduler.h"
#include "link/staged_file_finisher.h"
#include "store/listing_cache.h"

namespace vandry {

bool FileLink::onBlockMapFrame(std::uint8_t sub, ByteSpan frame)
{
    if (sub == kSubMapRequest)
        return answerBlockMap(frame);
    if (sub == kSubMapAnswer) {
        if (role_ != LinkRole::Requester)
            return false;
        // The answer to a map sent along with a folder's file request that this side gave up
        // before fetching: in order, it comes before anything about the next file.
        if (dirMode_ && phase_ == LinkPhase::Requesting)
            return true;
        onSharerMap(frame);
    }
    return true;
}

bool FileLink::answerBlockMap(ByteSpan frame)
{
    if (role_ != LinkRole::Sharer)
        return false;
    // A map sent along with a request that was refused, or answered with the whole file, finds
    // no file open: it asks nothing.
    if (!stream_.entry())
        return phase_ == LinkPhase::Serving;
    auto lacking = parseBlockMap(frame.subspan(FrameHeader::kSize), MapInput::CutAtCapacity);
    if (!lacking)
        return false;
    const BlockMap offered = advertisedMap(stream_, env_.openStreams);
    sendMapFrame(offered, kFrameBlockMap, kSubMapAnswer, 0, 0, kFlagAnswersInOrder);
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
    // Answers to requests still in flight (there are none unless the sharer sent a map unasked)
    // belong to the range being replaced, unless they asked for this file's blocks ahead.
    const std::uint32_t askedWithRequest = std::exchange(blocksAskedWithRequest_, 0);
    if (askedWithRequest == 0)
        requests_.markStale(requestsAskedAhead());
    const auto header = parseFrameHeader(frame);
    requests_.setSharerAnswersInOrder(header && (header->reserved & kFlagAnswersInOrder) != 0);
    std::vector<ScheduledLink> others;
    env_.roster.forEachLink([&](FileLink& link) {
        if (&link != this)
            others.push_back({&link.stream_, link.peer_.identity(), link.index()});
    });
    const auto outcome =
        scheduleSegment({&stream_, peer_.identity(), index()}, others, frame.subspan(FrameHeader::kSize));
    if (!outcome.logText.empty())
        env_.log.append(outcome.logText);
    if (askedWithRequest != 0) {
        // The blocks asked for ahead must be exactly the range the file needs from this sharer.
        FetchRange& range = stream_.range();
        if (outcome.result != ScheduleResult::Fetch || range.start != 0 || range.end != askedWithRequest) {
            failLink(kReportPeerReadFailed);
            return;
        }
        range.requested = askedWithRequest;
        fillRequestWindow();
        return;
    }
    switch (outcome.result) {
    case ScheduleResult::Fetch:
        stream_.range().requested = stream_.range().position;
        fillRequestWindow();
        return;
    case ScheduleResult::SharerDone:
        markTrxferException(kReportSegmentsDone);
        return;
    case ScheduleResult::FileComplete:
        endWholeFile();
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
        // Answers to what was asked about a folder file given up since still come, to be dropped.
        if (role_ != LinkRole::Requester || (phase_ != LinkPhase::Fetching && !requests_.nextAnswerIsStale()))
            return false;
        onBlockData(frame);
    }
    return true;
}

bool FileLink::answerBlockRequest(ByteSpan frame)
{
    if (role_ != LinkRole::Sharer)
        return false;
    // Blocks asked for along with a file request that was refused, or answered with the whole
    // file, find no file open: the requester expects no answer.
    if (!stream_.entry())
        return phase_ == LinkPhase::Serving;
    const auto request = parseFrameHeader(frame);
    if (!request)
        return false;
    heldRequest_ = *request;
    answerHeldRequest();
    return true;
}

// Answers now, or holds the request, and the frames behind it, until the upload limit lets the
// answer go: answers leave in the order of their requests.
void FileLink::answerHeldRequest()
{
    const FrameHeader request = *heldRequest_;
    const std::size_t blocks = std::min(request.count, kMaxBlocksPerRequest);
    const auto wait = env_.uploads.delayFor(blocks * kBlockSize);
    if (wait.count() > 0) {
        pauseFrames();
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
    sentBytes_ += read;
    sendFrame(read, kFrameBlocks, kSubBlockData);
}

void FileLink::onAnswerDue()
{
    answerTimer_->stop();
    if (!heldRequest_)
        return;
    const auto conversation = conversation_;
    answerHeldRequest();
    if (conversation == conversation_ && !heldRequest_)
        resumeFrames();
}

void FileLink::onBlockData(ByteSpan frame)
{
    const auto answer = parseFrameHeader(frame);
    if (!answer)
        return;
    const ByteSpan data = frame.subspan(FrameHeader::kSize);
    const auto request = requests_.answered(data.size(), env_.transports.clock.tickMs());
    // Every answer meets the oldest request in flight: one that does not was never asked for.
    if (!request || answer->block != request->block) {
        markTrxferException(kReportWriteFailed);
        return;
    }
    // Asked for before its range ended; the blocks are someone else's or already here.
    if (request->stale)
        return;
    writeAnswer(*request, data.first(std::min<std::size_t>(data.size(), std::size_t{request->count} * kBlockSize)));
}

void FileLink::writeAnswer(const PendingRequest& request, ByteSpan data)
{
    const FetchRange& range = stream_.range();
    // Another link cut this range at exactly what has arrived.
    if (range.position >= range.end) {
        endRange();
        return;
    }
    std::uint32_t block = request.block;
    switch (writeBlocks(stream_, block, data)) {
    case WriteResult::Continue:
        unsavedBytes_ += data.size();
        if (unsavedBytes_ >= kSaveInterval) {
            const std::uint32_t now = env_.transports.clock.tickMs();
            if (!lastSaveMs_ || now - *lastSaveMs_ >= kSaveSpacingMs) {
                stream_.saveProgress();
                unsavedBytes_ = 0;
                lastSaveMs_ = now;
            }
        }
        // A short answer leaves a gap before the requests behind it: ask again from the gap.
        if (block < request.block + request.count && block < stream_.range().requested) {
            requests_.markStale(requestsAskedAhead());
            stream_.range().requested = block;
        }
        fillRequestWindow();
        return;
    case WriteResult::RangeDone:
        requests_.markStale(requestsAskedAhead());
        unsavedBytes_ = 0;
        // The last block of the file ends the transfer here: asking the sharer's map again would
        // only cost a round trip per file, which dominates a folder of small files.
        if (const StreamEntry* entry = stream_.entry(); entry && entry->map.isWhole(entry->info.blockCount)) {
            endWholeFile();
            return;
        }
        sendMap();
        return;
    case WriteResult::Failed:
        markTrxferException(kReportWriteFailed);
        return;
    }
}

// Every block is here; a staged file that could not be put in its place is a failed write.
void FileLink::endWholeFile()
{
    const StreamEntry* entry = stream_.entry();
    if (entry && entry->staged && dirMode_ && env_.folders.finisher) {
        handOverStagedFile();
        return;
    }
    markTrxferException(entry && entry->staged ? kReportWriteFailed : kReportTransferEnded);
}

// The file counts as done, and its task hears that it ended, once it is in its place: a crash
// before then leaves it to be fetched again.
void FileLink::handOverStagedFile()
{
    auto staged = stream_.takeWholeStagedFile();
    if (!staged) {
        markTrxferException(kReportWriteFailed);
        return;
    }
    fillEvent(kReportTransferEnded);
    env_.folders.finisher->place(std::move(*staged),
                                 [listings = env_.folders.listings, &events = env_.events, &log = env_.log,
                                  &clock = env_.transports.clock, record = request_, ended = event_](bool placed) {
                                     const LinkReport& report = placed ? kReportTransferEnded : kReportWriteFailed;
                                     TransferEvent event = ended;
                                     event.code = report.code;
                                     event.text = std::string(report.text);
                                     if (placed)
                                         listings->markFileDone(event.taskId, record);
                                     log.append(reportLogLine(event.linkIndex, clock.tickMs(), report.text));
                                     events.taskEvent(event, report.type);
                                 });
    onFolderFileEnd(false);
}

// The range is over before its requests are: flush what arrived and choose anew.
void FileLink::endRange()
{
    requests_.markStale(requestsAskedAhead());
    stream_.flushRange();
    unsavedBytes_ = 0;
    sendMap();
}

void FileLink::sendMap()
{
    // The sharer has the next file open: a map now would ask about that one.
    if (!askedAhead_.empty()) {
        failLink(kReportPeerReadFailed);
        return;
    }
    const StreamEntry* entry = stream_.entry();
    sendMapFrame(entry ? entry->map : BlockMap{}, kFrameBlockMap, kSubMapRequest, 0);
}

// Asks for the rest of the range while the window has room. The first request of a range
// carries the own map along, which the sharer does not read.
void FileLink::fillRequestWindow()
{
    FetchRange& range = stream_.range();
    // Blocks asked for again after a short answer would come from the next file.
    if (!askedAhead_.empty() && range.requested < range.end) {
        failLink(kReportPeerReadFailed);
        return;
    }
    while (range.requested < range.end && requests_.hasRoom()) {
        const std::uint32_t block = range.requested;
        const auto count = static_cast<std::uint8_t>(std::min<std::uint32_t>(range.end - block, kMaxBlocksPerRequest));
        sendMapFrame(block == range.start ? stream_.entry()->map : BlockMap{}, kFrameBlocks, kSubBlockRequest, block,
                     count);
        if (phase_ != LinkPhase::Fetching)
            return; // the send failed and ended the conversation
        requests_.sent(block, count, env_.transports.clock.tickMs());
        range.requested = block + count;
    }
    askAheadForNextFile();
}

// Block frames carry the session tag.
void FileLink::sendMapFrame(const BlockMap& map, std::uint8_t type, std::uint8_t sub, std::uint32_t block,
                            std::uint8_t count, std::uint8_t flags)
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
    header.reserved = flags;
    header.count = count;
    header.block = block;
    storeFrameHeader(sendBuffer(), header);
    sendRaw(ByteSpan(sendBuffer()).first(header.length));
}

} // namespace vandry
