#pragma once
// ListingCache: the listings received for each folder task, one growing buffer per task, and the
// folder download driven from them. 128 slots, used from slot 0 without gaps. The buffer of a task
// is exactly what its queue file stores, so it is walked as untrusted bytes: a malformed record
// ends every walk.
//
// Records keep the sharer's wire names ("\music\live\" headers, plain file names); local paths are
// the local base (a native folder ending in "/") plus the header's part below the remote base plus
// the file name. A name that would leave that folder ("..", separators) is never handed out.
// Record marks move pending -> 0x40 handed out -> 0x80 done; a file of 0 bytes is created empty
// at once and goes straight to done.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/identity.h"
#include "link/link_records.h"

namespace vandry {

class ShareHashTable;
struct ListingRecord;

// A folder task walks its sharer's folder at most once in this many seconds.
inline constexpr std::int64_t kFolderWalkSpacingSeconds = 20;

class ListingCache {
public:
    static constexpr std::size_t kSlots = 128;
    static constexpr std::size_t kGrowthStep = 32000;
    // Enough for every file the links of a task have asked for and not finished.
    static constexpr std::size_t kHandedOutKept = 512;

    // The task's slot, or -1.
    int findCacheSlot(const HostIdentity& task) const;
    // Appends `bytes` to the task's buffer, taking a new slot when the task has none; -1 when all
    // slots are taken (the bytes are dropped).
    int append(const HostIdentity& task, ByteSpan bytes, int needsReconcile);
    // Appends a listing frame's body (the bytes after its 12-byte header); false when no slot was free.
    bool appendFrame(const HostIdentity& task, ByteSpan frameBody);
    // With `keepBuffer` the task's listing is emptied and its slot kept; without, the slot goes and
    // later slots move down one place. Always -1.
    int remove(const HostIdentity& task, bool keepBuffer);

    // Hands out the next file still to fetch into `record` (its remote and local paths; with
    // `withDigest`, its digest and size too) and marks it 0x40. Files of 0 bytes met on the way are
    // created and marked done when `localBase` is not empty. `skipHandedOut` passes over files
    // already handed out. False when no file is left; the local path is then cut back to its folder.
    bool nextFile(const HostIdentity& task, TaskRecord& record, const std::string& localBase,
                  const std::string& remoteBase, bool withDigest, bool skipHandedOut);
    // Marks done the handed-out file that `record` fetched; false when no such file is listed.
    bool markFileDone(const HostIdentity& task, const TaskRecord& record);
    // After the listing was loaded from its queue file: mark every file done that is present locally
    // with the listed size (and digest, when the hash table knows it), every other file pending.
    void reconcile(const HostIdentity& task, const std::string& localBase, const std::string& remoteBase,
                   ShareHashTable& hashes);
    // Percent of the non-empty files done; `doneCount` and `totalCount` (when given) receive how
    // many are done and how many there are.
    int progress(const HostIdentity& task, int* doneCount, int* totalCount = nullptr) const;

    ByteSpan buffer(const HostIdentity& task) const;
    // Allocated room of the task's buffer; it grows in steps of kGrowthStep.
    std::size_t capacity(const HostIdentity& task) const;
    // When the task's folder listing was last refreshed, seconds since 1970; kept by the link code.
    std::int64_t refreshed(const HostIdentity& task) const;
    void setRefreshed(const HostIdentity& task, std::int64_t when);

private:
    // A place in a task's buffer with the header in force there.
    struct Scan {
        std::size_t offset = 0;
        std::string folder;
        std::optional<std::string> tail = std::string{};
    };
    struct FileCounts {
        int done = 0;
        int total = 0;
    };
    struct Slot {
        HostIdentity task{};
        bool needsReconcile = false;
        Scan pending; // where the next file still to hand out is looked for
        // Where the files handed out last are listed, the latest last: several links of the task
        // finish them in any order, and each is marked done without a walk from the start.
        std::vector<Scan> handedOut;
        std::vector<std::uint8_t> bytes; // the used bytes; capacity() is the allocated room
        std::size_t capacity = 0;        // always a multiple of kGrowthStep
        std::int64_t refreshed = 0;
        // The non-empty files listed and done: counted on the first look after the buffer
        // changed, and kept current as marks change, since a folder task shows it on every file.
        mutable std::optional<FileCounts> counts;
    };

    static void setMark(Slot& slot, std::size_t recordOffset, const ListingRecord& record, std::uint8_t mark);

    Slot* slotOf(const HostIdentity& task);
    const Slot* slotOf(const HostIdentity& task) const;

    std::vector<Slot> slots_;
};

// Creates the folders on the way to the task's local path and an empty file there (emptying one
// that exists).
bool createEmptyFile(const TaskRecord& record);

} // namespace vandry
