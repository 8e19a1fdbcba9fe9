// Folder negotiation ('C'): before a folder task fetches any file, the requester walks the
// sharer's folder tree. The sharer queues every folder below the one asked for and names them one
// at a time; the requester asks for each one's listing and keeps it in the task's listing cache.
// When the sharer's queue is empty the requester fetches the listed files one after another on
// the same link.

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <utility>

#include "common/text.h"
#include "discovery/request_server.h"
#include "link/file_link.h"
#include "link/share_path.h"
#include "store/listing_cache.h"
#include "store/listing_names.h"
#include "store/listing_record.h"

namespace vandry {

namespace {

// The text of a 'C' 3 answer: up to its zero, or the whole payload without one.
std::string folderText(ByteSpan payload)
{
    const auto zero = std::find(payload.begin(), payload.end(), std::uint8_t{0});
    return std::string(payload.begin(), zero);
}

// A listing request may ask the sharer to pass over the entries it listed already, as a u32 in the
// record's last four bytes (zero in every other request), so that a folder too large for one
// answer arrives in parts. A sharer that does not know this sends the first part again.
std::uint32_t listingSkip(const TaskRecord& record)
{
    ByteReader in(record.reserved580);
    return in.u32le();
}

void setListingSkip(TaskRecord& record, std::uint32_t skip)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter(bytes).u32le(skip);
    std::copy(bytes.begin(), bytes.end(), record.reserved580.begin());
}

} // namespace

bool FileLink::onFolderFrame(std::uint8_t sub, ByteSpan payload)
{
    switch (sub) {
    case kSubFolderStart:
        return serveFolderStart(payload);
    case kSubFolderAccepted:
        return onFolderAccepted();
    case kSubFolderNext:
        return serveNextFolder();
    case kSubFolderName:
        return onFolderName(payload);
    case kSubFolderList:
        return serveFolderListing(payload);
    case kSubFolderListing:
        return onFolderListing(payload);
    default:
        return false;
    }
}

void FileLink::sendFolderText(std::uint8_t sub, const std::string& text)
{
    const auto payload = sendPayload();
    const std::size_t length = std::min(text.size(), payload.size() - 1);
    std::copy_n(text.begin(), length, payload.begin());
    payload[length] = 0;
    sendFrame(length + 1, kFrameFolder, sub);
}

void FileLink::sendRequestRecord(std::uint8_t type, std::uint8_t sub)
{
    sendRequestRecord(request_, type, sub);
}

void FileLink::sendRequestRecord(const TaskRecord& request, std::uint8_t type, std::uint8_t sub)
{
    const auto record = encodeTaskRecord(request);
    std::copy(record.begin(), record.end(), sendPayload().begin());
    sendFrame(record.size(), type, sub);
}

// Sharer side. Every folder handed out is a wire path below the share root; listings are built
// from the share only.

bool FileLink::serveFolderStart(ByteSpan payload)
{
    if (role_ != LinkRole::Sharer || (phase_ != LinkPhase::Greeted && phase_ != LinkPhase::Serving))
        return false;
    ByteReader in(payload);
    const auto record = parseTaskRecord(in);
    if (!record)
        return false;
    stream_.close();
    phase_ = LinkPhase::Serving;
    const auto folder = resolveSharedFolder(record->remotePath, env_.roots.shareRoot);
    if (!folder.ok()) {
        refuseRequest(accessErrorText(folder.error));
        return true;
    }
    sendFolderText(kSubFolderAccepted,
                   directories_.nextQueuedDirectory(record->remotePath, true, env_.roots.shareRoot));
    return true;
}

bool FileLink::serveNextFolder()
{
    if (role_ != LinkRole::Sharer || phase_ != LinkPhase::Serving)
        return false;
    sendFolderText(kSubFolderName, directories_.nextQueuedDirectory({}, false, env_.roots.shareRoot));
    return true;
}

bool FileLink::serveFolderListing(ByteSpan payload)
{
    if (role_ != LinkRole::Sharer || phase_ != LinkPhase::Serving)
        return false;
    ByteReader in(payload);
    const auto record = parseTaskRecord(in);
    if (!record)
        return false;
    const std::string wirePath = collapseDoubleSeparators(record->remotePath);
    const auto folder = resolveSharedFolder(wirePath, env_.roots.shareRoot);
    // A folder that went away meanwhile is listed empty; the walk goes on.
    std::vector<std::uint8_t> listing;
    if (folder.ok())
        listing = buildListing(wirePath, folder.path, kLinkListingCapacity, true, nullptr, env_.roots.shareRoot,
                               listingSkip(*record));
    std::copy(listing.begin(), listing.end(), sendPayload().begin());
    sendFrame(listing.size(), kFrameFolder, kSubFolderListing);
    return true;
}

// Requester side.

bool FileLink::onFolderAccepted()
{
    ListingCache* listings = env_.folders.listings;
    if (role_ != LinkRole::Requester || phase_ != LinkPhase::Requesting || request_.directory == 0 || !listings ||
        !env_.folders.hashes)
        return false;
    if (!reportAndContinue(kReportNegotiating))
        return true;
    const std::int64_t now = env_.transports.clock.nowSeconds();
    if (listings->findCacheSlot(taskId_) >= 0) {
        if (listings->refreshed(taskId_) > now - kFolderWalkSpacingSeconds) {
            resetLink();
            return true;
        }
        listings->remove(taskId_, true);
    } else if (listings->append(taskId_, {}, 0) < 0) {
        failLink(kReportWriteFailed);
        return true;
    }
    listings->setRefreshed(taskId_, now);
    dirMode_ = true;
    phase_ = LinkPhase::Negotiating;
    sendRequestRecord(kFrameFolder, kSubFolderNext);
    return true;
}

bool FileLink::onFolderName(ByteSpan payload)
{
    if (role_ != LinkRole::Requester || phase_ != LinkPhase::Negotiating)
        return false;
    // Only the bare zero says the queue is empty; any longer answer names a folder.
    if (payload.size() == 1) {
        const auto conversation = conversation_;
        markTrxferException(kReportQueryDone);
        if (conversation == conversation_ && phase_ == LinkPhase::Requesting)
            openFolderFileLinks();
        return true;
    }
    const std::string folder = folderText(payload);
    if (folder.size() >= TaskRecord::kPathSize || !isSafeListedFolder(folder) || !folder.starts_with(remoteRoot_)) {
        if (reportRefusedName(folder))
            sendRequestRecord(kFrameFolder, kSubFolderNext);
        return true;
    }
    request_.remotePath = collapseDoubleSeparators(folder);
    request_.localPath = localRoot_ + wireToLocalPath(std::string_view(folder).substr(remoteRoot_.size()));
    // Folders are made as they are named, so that empty ones arrive too.
    std::error_code ignored;
    std::filesystem::create_directories(request_.localPath, ignored);
    sendRequestRecord(kFrameFolder, kSubFolderList);
    return true;
}

bool FileLink::onFolderListing(ByteSpan payload)
{
    if (role_ != LinkRole::Requester || phase_ != LinkPhase::Negotiating)
        return false;
    std::uint32_t entries = 0;
    bool listedToEnd = false;
    std::string firstName;
    forEachListingRecord(payload, [&](std::size_t, const ListingRecord& record) {
        listedToEnd = listedToEnd || record.mark == kMarkLast;
        if (!record.isHeader() && entries++ == 0)
            firstName = record.name;
        return true;
    });
    // A part that starts like the folder's first part comes from a sharer that lists from the start.
    const bool repeated = folderEntriesListed_ > 0 && entries > 0 && firstName == folderFirstName_;
    if (!repeated) {
        // Stored marked for a check against the disk: files already here are not fetched again.
        if (env_.folders.listings->append(taskId_, payload, 1) < 0) {
            failLink(kReportWriteFailed);
            return true;
        }
        if (!reportRefusedNames(payload))
            return true;
    }
    if (folderEntriesListed_ == 0)
        folderFirstName_ = firstName;
    if (!listedToEnd && !repeated && entries > 0) {
        folderEntriesListed_ += entries;
        setListingSkip(request_, folderEntriesListed_);
        sendRequestRecord(kFrameFolder, kSubFolderList);
        return true;
    }
    folderEntriesListed_ = 0;
    setListingSkip(request_, 0);
    sendRequestRecord(kFrameFolder, kSubFolderNext);
    return true;
}

bool FileLink::reportRefusedName(std::string_view name)
{
    const std::string text = std::string(kReportNameRefused.text) + ": " + escapeControlCharacters(validUtf8(name));
    return reportAndContinue(kReportNameRefused.withText(text));
}

// Reports each name the listing holds that could not be placed inside the task's folder; false
// when a report ended the conversation.
bool FileLink::reportRefusedNames(ByteSpan listing)
{
    bool going = true;
    forEachListingRecord(listing, [&](std::size_t, const ListingRecord& record) {
        const bool safe = record.isHeader() ? isSafeListedFolder(record.name) && record.name.starts_with(remoteRoot_)
                                            : isSafeListedName(record.name);
        if (!safe)
            going = reportRefusedName(record.name);
        return going;
    });
    return going;
}

void FileLink::onFolderFileEnd(bool success)
{
    source_ = {};
    // What was asked about a file the sharer never opened gets no answer; what was asked about
    // one it did open still comes, and is dropped.
    requests_.forgetOldest(std::exchange(requestsDroppedOnRefusal_, 0));
    requests_.markStale(requestsAskedAhead());
    blocksAskedWithRequest_ = 0;
    stream_.close();
    ListingCache& listings = *env_.folders.listings;
    if (success)
        listings.markFileDone(taskId_, request_);
    // After a walk, files already here from an earlier one are marked done and not fetched again.
    listings.reconcile(taskId_, localRoot_, remoteRoot_, *env_.folders.hashes);
    fetchNextFile();
}

// Once the walk is done, further links to the sharer fetch listed files beside this one: each
// file costs a few round trips, and a folder of small files would otherwise be paid for in them.
// They take the same transport, since that is the one known to reach the sharer.
void FileLink::openFolderFileLinks()
{
    LinkRequest further;
    further.peer = peer_;
    further.request.directory = 1;
    further.request.remotePath = remoteRoot_;
    further.request.localPath = localRoot_;
    further.taskId = taskId_;
    further.localFile = localRoot_;
    further.viaDatagram = transport() == LinkTransport::Datagram;
    further.joinsFolder = true;
    for (int open = env_.roster.countTaskLinks(taskId_); open < kFolderFileLinks; ++open)
        env_.roster.openLink(further);
}

void FileLink::fetchNextFile()
{
    phase_ = LinkPhase::Requesting;
    const auto conversation = conversation_;
    if (!askedAhead_.empty()) {
        AskedFile next = std::move(askedAhead_.front());
        askedAhead_.pop_front();
        request_ = std::move(next.record);
        blocksAskedWithRequest_ = next.blocks;
        requestsDroppedOnRefusal_ = next.requests;
    } else if (!askForListedFile(request_)) {
        resetLink();
        return;
    }
    mapSentWithRequest_ = request_.info.size >= kBlockSize && conversation == conversation_;
}

bool FileLink::askForListedFile(TaskRecord& record)
{
    setListingSkip(record, 0);
    if (!env_.folders.listings->nextFile(taskId_, record, localRoot_, remoteRoot_, true, true))
        return false;
    const auto conversation = conversation_;
    sendRequestRecord(record, kFrameFile, kSubFileRequest);
    // A listed file too large to come whole with its description gets this side's map (nothing
    // held yet, as far as the sharer needs to know) sent along: the sharer answers in order, so
    // its map answer follows the description a round trip sooner.
    if (record.info.size >= kBlockSize && conversation == conversation_)
        sendMapFrame(BlockMap{}, kFrameBlockMap, kSubMapRequest, 0);
    return true;
}

// Once the current file's requests reach its last lacking block, asking for the next ones costs
// no round trip of their own. Small new files get their blocks asked for at once, as far as the
// request window reaches; any other file waits for its description and ends the queue.
void FileLink::askAheadForNextFile()
{
    const StreamEntry* entry = stream_.entry();
    const FetchRange& range = stream_.range();
    if (!dirMode_ || !entry || range.requested < range.end)
        return;
    BlockMap once = entry->map;
    if (!once.addRange(range.start, range.end) || !once.isWhole(entry->info.blockCount))
        return;
    const auto conversation = conversation_;
    while (askedAhead_.empty() ||
           (askedAhead_.back().requests > 0 && askedAhead_.size() < kFilesAskedAhead && requests_.hasRoom())) {
        AskedFile next{request_};
        if (!askForListedFile(next.record) || conversation != conversation_)
            return;
        if (canAskBlocksAhead(next.record)) {
            next.blocks = next.record.info.blockCount;
            for (std::uint32_t block = 0; block < next.blocks; block += kMaxBlocksPerRequest) {
                const auto count =
                    static_cast<std::uint8_t>(std::min<std::uint32_t>(next.blocks - block, kMaxBlocksPerRequest));
                sendMapFrame(BlockMap{}, kFrameBlocks, kSubBlockRequest, block, count);
                if (conversation != conversation_)
                    return; // the send failed and ended the conversation
                requests_.sent(block, count, env_.transports.clock.tickMs());
                ++next.requests;
            }
        }
        askedAhead_.push_back(std::move(next));
    }
}

bool FileLink::canAskBlocksAhead(const TaskRecord& record) const
{
    if (!requests_.sharerAnswersInOrder() || record.info.size < kBlockSize || record.info.size > kStagedFileLimit ||
        !describesBlocks(record.info))
        return false;
    const auto target = resolveDownloadFile(record.localPath);
    struct stat st {};
    return target.ok() && ::lstat(target.path.c_str(), &st) != 0 && errno == ENOENT;
}

std::size_t FileLink::requestsAskedAhead() const
{
    std::size_t requests = 0;
    for (const auto& file : askedAhead_)
        requests += file.requests;
    return requests;
}

} // namespace vandry
