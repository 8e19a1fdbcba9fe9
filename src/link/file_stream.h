#pragma once
// FileStream: a link's side of the stream table. Each link owns one; it attaches the link to the
// table entry of the file it serves or receives, holds the link's own descriptor of that file,
// the range of blocks the link is fetching and the map of blocks its sharer offers.
//
// Use by a link:
//   open(path, info, forWrite, taskId)  on a file request ('B'); `info` becomes the entry's view;
//   range(), peerMap()                  the segment scheduler's fields;
//   readAt / writeAt                    block access ('E'); the caller advances range().position
//                                       and entry()->receivedKb only after a successful write;
//   flushRange()                        when a range ends: merges it into the entry's map;
//   saveProgress()                      now and then (the main window's timer) while writing;
//   close()                             when the link resets or moves to another file.
// Destroying a FileStream only releases its descriptor: nothing is flushed and the entry stays,
// just as after a crash. close() is the clean path.
//
// While writing, the entry's resume record (resume_store.h) follows the map: it is saved before
// the first byte is written, after every flush that adds blocks (behind an fdatasync) and removed
// once the file is complete. The last writer to close also writes the trailer
// (resume_trailer.h).

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/identity.h"
#include "link/block_map.h"
#include "link/file_info_block.h"
#include "link/staged_file_finisher.h"
#include "link/stream_table.h"
#include "store/posix_file.h"

namespace vandry {

class FileStream;

// The streams of every link of this running copy, so that a stream can see who else uses its
// entry. The link table implements it by visiting the stream of each of its links.
class OpenStreams {
public:
    virtual ~OpenStreams() = default;
    virtual void forEachStream(const std::function<void(const FileStream&)>& visit) const = 0;
};

enum class StreamMode : std::int32_t { Null = 0, Read = 1, Resume = 2, Truncate = 3 };

enum class OpenResult : int {
    Ok = 0,
    Missing = 1,       // reading: no such file, or it cannot be opened
    TooSmall = 2,      // reading: below 1024 bytes (it travels whole instead)
    TableFull = 3,     // no free stream entry
    OpenFailed = 4,    // the file cannot be opened or recorded, or differs from an entry open here
    DigestDiffers = 5, // reading: the local file is not the one asked for
    NameTaken = 6,     // writing: another file of the user's has that name
};

// The blocks a link is fetching: [start, end), next to write at position. Requests in flight
// may have asked for blocks up to `requested`: those are as good as fetched when another link
// looks for work.
struct FetchRange {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::uint32_t position = 0;
    std::uint32_t requested = 0;

    // Where the blocks nobody has asked for yet begin.
    std::uint32_t unrequested() const { return std::min(std::max(position, requested), end); }
};

class FileStream {
public:
    // Both must outlive the stream.
    FileStream(StreamTable& table, const OpenStreams& others) : table_(table), others_(others) {}
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Closes any stream first. On Ok `info` holds the entry's FileInfoBlock. Writing, a local file
    // that differs from the request (digest, or size of a partial file) is started afresh: empty
    // map, truncated (mode Truncate); the requester's FileInfoBlock prevails, the map survives.
    OpenResult open(const std::string& path, FileInfoBlock& info, bool forWrite, const HostIdentity& taskId);
    void close();

    // Merges [range.start, range.position) into the entry's map and clears the range and the
    // peer map. False when the blocks could not all be recorded (map full, or the record could
    // not be saved); they are then fetched again later, never claimed unwritten.
    bool flushRange();
    // Saves the resume record with the entry's map plus the unflushed progress of every writer
    // of the entry. Writers only.
    bool saveProgress();

    // Reads count blocks from `block` into `into` (at most its size); returns the bytes read,
    // fewer at the end of the file.
    std::size_t readAt(std::uint32_t block, std::uint32_t count, MutableByteSpan into) const;
    // Writes whole blocks at `block`; only a write ending exactly at the file's size may end in a
    // short block. Nothing is written past the file's size. Writers only.
    bool writeAt(std::uint32_t block, ByteSpan bytes);

    // A folder download takes its whole staged files over (takeWholeStagedFile) to put them in
    // their place elsewhere, instead of syncing and renaming each one here.
    void setHandsOverStagedFiles(bool handsOver) { handsOverStaged_ = handsOver; }
    // The staged file once whole, for the caller to put in its place; the entry then stands for
    // the file at its place, and closing no longer drops the staged file. Nothing otherwise.
    std::optional<StagedFile> takeWholeStagedFile();

    StreamMode mode() const { return mode_; }
    bool writes() const { return mode_ == StreamMode::Resume || mode_ == StreamMode::Truncate; }
    std::optional<StreamSlot> slot() const { return slot_; }
    // The entry, or nothing when no stream is open.
    StreamEntry* entry() { return slot_ ? &table_.at(*slot_) : nullptr; }
    const StreamEntry* entry() const { return slot_ ? &table_.at(*slot_) : nullptr; }
    bool sharesEntryWith(const FileStream& other) const;
    FetchRange& range() { return range_; }
    const FetchRange& range() const { return range_; }
    BlockMap& peerMap() { return peerMap_; }
    const BlockMap& peerMap() const { return peerMap_; }

private:
    struct EntryUsers {
        bool shared = false;           // another stream is open on the entry
        bool writtenElsewhere = false; // ... and writes it
    };

    OpenResult createEntry(const std::string& path, const FileInfoBlock& info, bool forWrite, StreamMode& mode,
                           StreamSlot& slot);
    PosixFile openFile(const std::string& path, StreamEntry& entry, StreamMode mode);
    EntryUsers otherUsers() const;
    bool recordProgress(StreamEntry& entry);
    void writeTrailer(StreamEntry& entry);

    StreamTable& table_;
    const OpenStreams& others_;
    std::optional<StreamSlot> slot_;
    StreamMode mode_ = StreamMode::Null;
    FetchRange range_;
    bool handsOverStaged_ = false;
    PosixFile file_;
    BlockMap peerMap_;
};

} // namespace vandry
