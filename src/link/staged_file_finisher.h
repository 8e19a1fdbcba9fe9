#pragma once
// StagedFileFinisher: puts the whole staged files of folder downloads in their place (data sync,
// then rename) on a thread of its own. A folder of small files would otherwise hold its links up
// for one wait on the disk per file; this way the links go on with the next files while the disk
// catches up. Files handed over while the disk is busy are synced together, with one sync of
// their file system, which costs about what one file's sync does. Each outcome comes back on the
// event loop's thread, in the order the files were handed over.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/event_loop.h"
#include "common/serial_worker.h"
#include "store/posix_file.h"

namespace vandry {

struct StagedFile {
    PosixFile file; // a descriptor of the staged file, which the finisher closes
    std::string stagedPath;
    std::string path;
};

class StagedFileFinisher {
public:
    // Below this many waiting files each is synced on its own: a file system's sync also writes
    // what other programs have pending.
    static constexpr std::size_t kFileSystemSyncBatch = 4;

    // Inline, a file is put in its place at once on the caller's thread (tests and tools).
    StagedFileFinisher(EventLoop& loop, SerialWorker::Mode mode) : loop_(loop), worker_(mode) {}

    // Syncs the file's data and renames it into its place; `done` learns whether it is there. A
    // file that could not be placed is removed.
    void place(StagedFile staged, std::function<void(bool placed)> done);
    // Returns once every file handed over is placed or removed (their outcomes may still be on
    // their way to the event loop).
    void drain() { worker_.drain(); }

private:
    struct Waiting {
        StagedFile staged;
        std::function<void(bool placed)> done;
    };
    void placeWaiting();

    EventLoop& loop_;
    std::mutex mutex_;
    std::vector<Waiting> waiting_;
    bool placing_ = false; // a job that takes every waiting file is posted
    SerialWorker worker_;
};

} // namespace vandry
