#pragma once
// "Table.hist" and the folder tasks' queue files: the task list across restarts and crashes.
//
// "Table.hist" holds a version line, then one line per task in list order: the source host's
// record (120 hex digits), the task identity, the local path in hex, the remote path in hex and
// the attribute byte in decimal, joined by ".". A folder task's listings so far go to a queue
// file named by its identity and ".QUE". Files are replaced whole, never rewritten in place, so
// a crash during a save leaves the previous list.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/identity.h"
#include "link/link_records.h"
#include "tasks/task_list.h"

namespace vandry {

class ListingCache;
class ResumeStore;
class ShareHashTable;

inline constexpr std::string_view kHistoryFileName = "Table.hist";
inline constexpr std::string_view kQueueFileSuffix = ".QUE";
inline constexpr std::size_t kMaxQueueBytes = 128000;
// Set in a task's attribute byte while it runs: a task that was running when the copy stopped,
// or crashed, starts again by itself after a restart. Other bits pass through unchanged.
inline constexpr std::uint8_t kAttributeRunning = 0x80;

struct HistoryEntry {
    std::string hostHex;
    HostIdentity identity{};
    TaskRecord record; // paths, folder flag and attribute; the rest zero
};

// One line of "Table.hist" (without its line end) for a task row.
std::string historyLine(const TaskRow& row);

enum class HistoryLineResult { Entry, Skip, Stop };
// A line too short to hold a task is skipped; an empty host or path, a path of 260 bytes or
// more, or a malformed identity ends the load (the tasks before it stay).
HistoryLineResult parseHistoryLine(std::string_view line, HistoryEntry& entry);

class TaskHistory {
public:
    TaskHistory(std::filesystem::path folder, TaskList& tasks, ListingCache& listings, ShareHashTable& hashes,
                const ResumeStore& resume);

    // Re-creates the rows of the last save, each with its progress recomputed from the disk.
    // The identities of the tasks that were running come back through `resume`.
    void load(const std::function<void(const HostIdentity& task)>& resume);
    // Writes "Table.hist" when the list differs from the last save (deletes it for an empty
    // list). With `withQueues`, as at a stop, also every folder task's queue file, and marks
    // the hash entries of file tasks as checked so that "Table.hash" keeps them.
    void save(bool withQueues);

private:
    std::filesystem::path historyFile() const { return folder_ / kHistoryFileName; }
    std::filesystem::path queueFile(const std::string& identity) const
    {
        return folder_ / (identity + std::string(kQueueFileSuffix));
    }
    int fileProgress(const std::string& localPath) const;
    void loadQueue(const std::string& identityText, const HostIdentity& identity);
    void saveQueue(const std::string& identityText, const HostIdentity& identity);

    std::filesystem::path folder_;
    TaskList& tasks_;
    ListingCache& listings_;
    ShareHashTable& hashes_;
    const ResumeStore& resume_;
    std::optional<std::string> saved_; // the history text last written (or read)
};

} // namespace vandry
