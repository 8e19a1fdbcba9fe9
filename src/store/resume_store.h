#pragma once
// ResumeStore: the resume state of partially received files, kept outside the files themselves.
//
// Why: a partial file's own 576-byte trailer is written only when its last writing stream
// closes cleanly, and a file without a valid trailer counts as complete. After a crash or a kill
// the trailer is missing or stale, and a file full of never-written zero blocks would be taken as
// complete, served to others and reported finished. The record closes that gap.
//
// Design:
// - One record per partial file, in a folder the running copy owns (its state folder, e.g.
//   STATE/resume/), named by the MD5 of the file's full path: "<32 hex digits>.resume". The
//   record (resume_record.h) repeats the path, so a name collision reads as "no record".
// - Saves that follow an fdatasync may run on a worker thread (saveAfterSync), so that a download
//   does not wait for the disk; they run in the order given, and every other operation waits
//   for them first.
// - Records are replaced atomically: written to "<name>.tmp", fsync'ed, renamed over the old
//   record, then the folder is fsync'ed. A reader sees the old record or the new one, never a mix.
// - A record never claims a block that is not on disk: it is saved before the first byte of a
//   download is written (with what is already present), and a save that adds blocks follows an
//   fdatasync of the data file. Blocks the trailer overwrites are given up in the record before
//   the trailer is written.
// - The record is removed (and the removal made durable) once the file is complete and its data
//   synced, so a complete file is again an ordinary file with neither record nor trailer.
// - On opening a file, a record for its path wins over the trailer and over "no trailer means
//   complete"; blocks beyond the file's current length are not present. A record that exists but
//   cannot be read is damaged: the file is partial and nothing of it is trusted.
// - A record for a file that no longer exists is ignored and replaced when the file is created
//   again.

#include <filesystem>
#include <memory>
#include <string>

#include "common/serial_worker.h"
#include "store/posix_file.h"
#include "store/resume_record.h"

namespace vandry {

class ResumeStore {
public:
    enum class Status { None, Found, Damaged };
    struct Lookup {
        Status status = Status::None;
        ResumeRecord record; // when Found
    };

    // With SerialWorker::Mode::Thread, saveAfterSync runs on a thread of the store's own.
    explicit ResumeStore(std::filesystem::path folder, SerialWorker::Mode saves = SerialWorker::Mode::Inline)
        : folder_(std::move(folder)), saves_(std::make_unique<SerialWorker>(saves))
    {
    }

    Lookup load(const std::string& path) const;
    // Atomic and durable when it returns true; the folder is created when missing.
    bool save(const ResumeRecord& record);
    // True when no record remains (removed, or there was none).
    bool remove(const std::string& path);
    // Syncs the data of `file` (through a descriptor of its own) and then saves `record`, which
    // must name only blocks written before this call. False when the descriptor could not be
    // had; a later failure leaves the previous record, which names fewer blocks.
    bool saveAfterSync(const PosixFile& file, ResumeRecord record);
    // Returns once every save queued so far has run.
    void waitForSaves() const { saves_->drain(); }

    std::filesystem::path recordFile(const std::string& path) const;

private:
    bool write(const ResumeRecord& record) const;

    std::filesystem::path folder_;
    std::unique_ptr<SerialWorker> saves_;
};

} // namespace vandry
