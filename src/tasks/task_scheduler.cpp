#include "tasks/task_scheduler.h"

#include <algorithm>

#include "common/hex.h"
#include "discovery/control_datagram.h"
#include "link/link_records.h"
#include "store/listing_cache.h"

namespace vandry {

namespace {
constexpr std::size_t kKeyOffset = RequestHeader::kSize;
constexpr std::size_t kPathOffset = kKeyOffset + SourceInfo::kSize;

// The key's digest and size from a file's description (a stream entry, a listing record).
bool fillKey(SourceInfo& key, std::string_view digestHex, std::uint64_t size)
{
    const auto digest = hexDecode(digestHex, key.digest.size());
    if (!digest)
        return false;
    std::copy(digest->begin(), digest->end(), key.digest.begin());
    key.sizeLow = static_cast<std::uint32_t>(size);
    return true;
}

bool sameFile(const SourceInfo& key, const std::string& digestHex, std::uint64_t size)
{
    return digestHex == hexEncode(key.digest) && static_cast<std::uint32_t>(size) == key.sizeLow;
}
} // namespace

bool transferIsSlow(std::uint32_t blocksLeft, std::uint32_t rate)
{
    return rate == 0 || blocksLeft / rate > kSlowTransferSeconds;
}

SourceInfo sourceKey(const DigestAndSize& file, const HostIdentity& task)
{
    SourceInfo key;
    key.digest = file.digest;
    key.sizeLow = static_cast<std::uint32_t>(file.size);
    key.source = task;
    return key;
}

FileKey fileKeyOf(const SourceInfo& key)
{
    std::vector<std::uint8_t> encoded;
    ByteWriter out(encoded);
    encodeSourceInfo(key, out);
    FileKey bytes{};
    std::copy_n(encoded.begin(), std::min(encoded.size(), bytes.size()), bytes.begin());
    return bytes;
}

std::optional<SourceReply> parseSourceReply(ByteSpan payload)
{
    ByteReader in(payload);
    const std::uint16_t length = in.u16le();
    const std::uint8_t kind = in.u8();
    in.skip(5);
    auto replier = parseHostRecord(in);
    auto key = parseSourceInfo(in);
    if (!in.ok() || !replier || !key || in.position() != kPathOffset || length != kPathOffset ||
        kind != static_cast<std::uint8_t>(RequestKind::SourceLookup))
        return std::nullopt;
    SourceReply reply{*replier, *key, {}};
    // The length field still reads the request's 104: the path follows the key.
    // The path ends at its zero; one without a zero, or longer than a request can carry, is no path.
    const ByteSpan rest = payload.subspan(kPathOffset);
    const auto zero = std::find(rest.begin(), rest.end(), std::uint8_t{0});
    if (zero != rest.end() && static_cast<std::size_t>(zero - rest.begin()) < TaskRecord::kPathSize)
        reply.path.assign(rest.begin(), zero);
    return reply;
}

TaskScheduler::TaskScheduler(TaskList& tasks, SeedTable& seeds, ShareHashTable& hashes, ListingCache& listings,
                             NeighbourTable& neighbours, TransferControl& transfers)
    : tasks_(tasks), seeds_(seeds), hashes_(hashes), listings_(listings), neighbours_(neighbours), transfers_(transfers)
{
}

void TaskScheduler::runScheduler(std::optional<std::size_t> row)
{
    const std::size_t count = tasks_.rows().size();
    const bool one = row && *row < count;
    for (std::size_t i = one ? *row : 0; i < (one ? *row + 1 : count) && i < tasks_.rows().size(); ++i) {
        // Copies: starting a task may report events that rewrite the row.
        const TaskRow task = tasks_.rows()[i];
        if (task[kTaskScheduled] != "1")
            continue;
        const auto identity = identityFromText(task[kTaskIdentity]);
        if (!identity)
            continue;
        if (!TaskList::isDirectoryTask(task)) {
            startFileTask(*identity, true, task[kTaskLocalPath]);
        } else if (!transfers_.streamOwnedBy(*identity)) {
            startDirectoryTask(*identity, true, false);
            if (transfers_.countTaskLinks(*identity) == 0)
                restartFolderWalk(task, *identity);
        }
    }
}

// A folder task without any link (its walk was cut off by a crash, a lost peer or failed files)
// walks its folder again once its sharer is online. The walk fetches only what is missing, and a
// walk is tried at most once per negotiation spacing.
void TaskScheduler::restartFolderWalk(const TaskRow& task, const HostIdentity& identity)
{
    const auto host = hostRecordFromHex(task[kTaskHost]);
    if (!host || !neighbours_.find(host->identity, false))
        return;
    const std::int64_t now = neighbours_.clock().nowSeconds();
    if (listings_.findCacheSlot(identity) >= 0 && listings_.refreshed(identity) > now - kFolderWalkSpacingSeconds)
        return;
    LinkRequest link;
    link.peer.neighbour = neighbours_.snapshot(*host);
    link.request.directory = 1;
    link.request.remotePath = task[kTaskRemotePath];
    link.request.localPath = task[kTaskLocalPath];
    link.localFile = task[kTaskLocalPath];
    link.taskId = identity;
    transfers_.openLink(link);
}

bool TaskScheduler::startFileTask(const HostIdentity& identity, bool skipBusy, const std::string& localPath)
{
    SourceInfo key;
    key.source = identity;
    bool swept = false;
    if (const auto stream = transfers_.streamOwnedBy(identity)) {
        const std::uint32_t left =
            stream->blockCount > stream->receivedKb ? stream->blockCount - stream->receivedKb : 0;
        if (transferIsSlow(left, stream->rate) && fillKey(key, stream->digestHex, stream->size))
            swept = sweep(key, stream->slot, skipBusy);
    } else if (const auto file = hashes_.digestForListing(localPath, false)) {
        key = sourceKey(*file, identity);
        swept = sweep(key, std::nullopt, skipBusy);
    }
    shuffleAndConnect(key);
    return swept;
}

bool TaskScheduler::startDirectoryTask(const HostIdentity& identity, bool skipBusy, bool force)
{
    SourceInfo key;
    key.source = identity;
    bool swept = false;
    const auto stream = transfers_.streamOwnedBy(identity);
    if (stream && !force) {
        if (fillKey(key, stream->digestHex, stream->size))
            swept = sweep(key, stream->slot, skipBusy);
    } else {
        TaskRecord next;
        if (listings_.nextFile(identity, next, {}, {}, true, false)) {
            fillKey(key, next.info.digest(), next.info.size);
            key.sizeLow = static_cast<std::uint32_t>(next.info.size);
            swept = sweep(key, std::nullopt, skipBusy);
        }
    }
    shuffleAndConnect(key);
    return swept;
}

// Every task start ends here: the first start after a resume shuffles the running sources, then
// an eligible source is connected.
void TaskScheduler::shuffleAndConnect(const SourceInfo& key)
{
    if (resumeRow_ && resumeRow_ == contextRow_) {
        resumeRow_.reset();
        seeds_.shuffleSources(key);
    }
    pickAndConnect(key);
}

bool TaskScheduler::sweep(const SourceInfo& key, std::optional<StreamSlot> entry, bool skipBusy)
{
    const std::vector<HostIdentity> busy = entry ? transfers_.receivingPeers(*entry) : std::vector<HostIdentity>{};
    seeds_.querySweep(key, neighbours_, busy, skipBusy,
                      [&](NeighbourSlot slot) { transfers_.sendSourceLookup(neighbours_.at(slot), key); });
    return true;
}

bool TaskScheduler::pickAndConnect(const SourceInfo& key)
{
    if (!seeds_.hasCandidate(key))
        return false;
    const auto picked = seeds_.pickSource(key);
    if (!picked)
        return false;
    const auto slot = neighbours_.find(picked->identity, false);
    if (!slot)
        return false;
    connectToSource(key, picked->path, neighbours_.at(*slot).host);
    return true;
}

std::optional<std::string> TaskScheduler::folderTaskFile(std::size_t row, const SourceInfo& key)
{
    if (const auto stream = transfers_.streamOwnedBy(key.source);
        stream && sameFile(key, stream->digestHex, stream->size))
        return stream->path;
    const TaskRow task = tasks_.rows()[row];
    TaskRecord next;
    if (listings_.nextFile(key.source, next, task[kTaskLocalPath], task[kTaskRemotePath], true, false) &&
        sameFile(key, next.info.digest(), next.info.size))
        return next.localPath;
    return std::nullopt;
}

void TaskScheduler::connectToSource(const SourceInfo& key, const std::string& sourcePath, const HostRecord& host)
{
    const auto row = tasks_.findRow(key.source);
    if (!row || sourcePath.empty())
        return;
    std::string localFile = tasks_.rows()[*row][kTaskLocalPath];
    if (TaskList::isDirectoryTask(tasks_.rows()[*row])) {
        const auto file = folderTaskFile(*row, key);
        if (!file)
            return;
        localFile = *file;
    }
    LinkRequest link;
    link.peer.neighbour = neighbours_.snapshot(host);
    link.request.info.setDigest(hexEncode(key.digest));
    link.request.remotePath = sourcePath;
    link.request.localPath = localFile;
    link.taskId = key.source;
    link.source = key;
    link.localFile = localFile;
    transfers_.openLink(link);
}

void TaskScheduler::onSourceReply(ByteSpan payload)
{
    const auto reply = parseSourceReply(payload);
    if (!reply)
        return;
    const bool positive = !reply->path.empty();
    seeds_.addSource(positive, reply->key, reply->replier.identity, reply->path);
    if (positive)
        pickAndConnect(reply->key);
}

void TaskScheduler::setSourceState(const SourceInfo& key, const HostIdentity& source, std::uint8_t state)
{
    // Two links fetching one file from one source: one link's news is not the source's state.
    if (state != SEED_FLAG_CONNECTED && transfers_.hasDuplicateSourceLink(key.digest, source))
        return;
    seeds_.setSourceState(key, source, state);
}

void TaskScheduler::storeServedDigest(const SourceInfo& key)
{
    const auto stream = transfers_.streamWithDigest(hexEncode(key.digest));
    if (stream && !stream->path.empty())
        hashes_.storeDigest(stream->path, stream->digestHex, static_cast<std::uint32_t>(stream->size));
}

void TaskScheduler::onTaskEvent(const TransferEvent& event, EventType type)
{
    const SourceInfo& key = event.source;
    const HostIdentity& source = event.peerIdentity;
    if (type == EventType::PeerBehind) {
        if (!isZero(key.source))
            seeds_.reviveSource(key, source, -600);
        return;
    }
    if (type == EventType::FileServed) {
        storeServedDigest(key);
        return;
    }
    if (!tasks_.findRow(event.taskId))
        return;
    switch (type) {
    case EventType::TransferEnded:
        seeds_.dropSlot(key);
        return;
    case EventType::NetworkLost:
    case EventType::SegmentsDone:
        setSourceState(key, source, SEED_FLAG_SUSPEND);
        return;
    case EventType::PeerFailed:
        setSourceState(key, source, SEED_FLAG_REJECT);
        return;
    case EventType::FileOpened:
        setSourceState(key, source, SEED_FLAG_CONNECTED);
        storeServedDigest(key);
        return;
    case EventType::ConnectFailed: {
        const auto slot = neighbours_.find(source, false);
        if (!transfers_.linkUsedDatagram(event.linkIndex)) {
            if (slot)
                neighbours_.setDatagramOnly(*slot, true);
            setSourceState(key, source, SEED_FLAG_TCPFAIL);
            transfers_.retryOverDatagram(event.linkIndex, event.taskId, key);
        } else {
            if (slot)
                neighbours_.setDatagramOnly(*slot, false);
            setSourceState(key, source, SEED_FLAG_FAIL);
        }
        return;
    }
    case EventType::Status:
    case EventType::PeerBehind:
    case EventType::FileServed:
        return;
    }
}

} // namespace vandry
