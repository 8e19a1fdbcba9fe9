#pragma once
// The task scheduler and the download sources of running tasks: every five seconds each
// scheduled task looks for sources (a source lookup sweep to the neighbours while its transfer is
// slow or stopped), picks one from the seed table and connects to it; the answers of the sweep
// connect at once; and each link event moves the source it came from between the seed states.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/file_digest.h"
#include "discovery/neighbour_table.h"
#include "link/link_environment.h"
#include "link/link_report.h"
#include "link/stream_table.h"
#include "link/transfer_event.h"
#include "store/listing_cache.h"
#include "store/share_hash_table.h"
#include "tasks/seed_table.h"
#include "tasks/task_list.h"

namespace vandry {

// What the scheduler reads of a stream entry.
struct StreamView {
    StreamSlot slot;
    std::string digestHex;
    std::uint64_t size = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t receivedKb = 0;
    std::uint32_t rate = 0; // smoothed K/s
    std::string path;
    std::vector<BlockRange> held; // the blocks the local copy holds
};

// The link and stream tables and the discovery endpoint, as the scheduler uses them.
class TransferControl {
public:
    virtual ~TransferControl() = default;
    virtual void openLink(const LinkRequest& request) = 0;
    virtual std::optional<StreamView> streamOwnedBy(const HostIdentity& task) const = 0;
    virtual std::optional<StreamView> streamWithDigest(const std::string& digestHex) const = 0;
    // Peers of the links that write into `entry`, at most 32.
    virtual std::vector<HostIdentity> receivingPeers(StreamSlot entry) const = 0;
    // At least two links write the file of `digest` and fetch it from `peer`.
    virtual bool hasDuplicateSourceLink(const FileDigest& digest, const HostIdentity& peer) const = 0;
    // The link's failed attempt ran over the datagram transport.
    virtual bool linkUsedDatagram(std::uint8_t linkIndex) const = 0;
    // Starts the same link again at once over the datagram transport.
    virtual void retryOverDatagram(std::uint8_t linkIndex, const HostIdentity& task, const SourceInfo& key) = 0;
    virtual void stopTaskLinks(const HostIdentity& task, bool force, std::optional<StreamSlot> entry) = 0;
    virtual void sendSourceLookup(const NeighbourRecord& target, const SourceInfo& key) = 0;
    virtual int countTaskLinks(const HostIdentity& task) const = 0;
};

// A slow transfer looks for more sources: no rate yet, or more than this many seconds left.
inline constexpr std::uint32_t kSlowTransferSeconds = 150;
bool transferIsSlow(std::uint32_t blocksLeft, std::uint32_t rate);

// The source lookup key of a file: digest, size (low 32 bits), task identity.
SourceInfo sourceKey(const DigestAndSize& file, const HostIdentity& task);
FileKey fileKeyOf(const SourceInfo& key);

// A source lookup answer: who answered, for which key, and the path it holds the file at (empty
// when it does not have it). nullopt when malformed.
struct SourceReply {
    HostRecord replier;
    SourceInfo key;
    std::string path;
};
std::optional<SourceReply> parseSourceReply(ByteSpan payload);

class TaskScheduler {
public:
    TaskScheduler(TaskList& tasks, SeedTable& seeds, ShareHashTable& hashes, ListingCache& listings,
                  NeighbourTable& neighbours, TransferControl& transfers);

    // Every five seconds; a row outside the list runs all rows.
    void runScheduler(std::optional<std::size_t> row = std::nullopt);
    bool startFileTask(const HostIdentity& identity, bool skipBusy, const std::string& localPath);
    bool startDirectoryTask(const HostIdentity& identity, bool skipBusy, bool force);
    void connectToSource(const SourceInfo& key, const std::string& sourcePath, const HostRecord& host);
    void onSourceReply(ByteSpan payload);
    // The sources' side of a link event; the rows are changed by the task list.
    void onTaskEvent(const TransferEvent& event, EventType type);

    // The next start after a resume of this row shuffles its sources (the command layer sets
    // both: the row a command ran on, and the row resumed).
    void setContextRow(std::optional<std::size_t> row) { contextRow_ = row; }
    void setResumeRow(std::optional<std::size_t> row) { resumeRow_ = row; }

private:
    void shuffleAndConnect(const SourceInfo& key);
    bool pickAndConnect(const SourceInfo& key);
    bool sweep(const SourceInfo& key, std::optional<StreamSlot> entry, bool skipBusy);
    void setSourceState(const SourceInfo& key, const HostIdentity& source, std::uint8_t state);
    void storeServedDigest(const SourceInfo& key);
    std::optional<std::string> folderTaskFile(std::size_t row, const SourceInfo& key);
    void restartFolderWalk(const TaskRow& task, const HostIdentity& identity);

    TaskList& tasks_;
    SeedTable& seeds_;
    ShareHashTable& hashes_;
    ListingCache& listings_;
    NeighbourTable& neighbours_;
    TransferControl& transfers_;
    std::optional<std::size_t> contextRow_;
    std::optional<std::size_t> resumeRow_;
};

} // namespace vandry
