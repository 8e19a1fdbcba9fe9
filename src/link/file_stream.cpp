#include "link/file_stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <sys/stat.h>

#include "link/local_file_check.h"
#include "store/resume_store.h"
#include "store/resume_trailer.h"

namespace vandry {

namespace {
bool differsFrom(const FileInfoBlock& request, const FileInfoBlock& local)
{
    return request.digestKnown() && request.digestText != local.digestText;
}

ResumeRecord recordOf(const StreamEntry& entry)
{
    return {entry.path, entry.info, entry.map};
}

// The fetched, unflushed part of a range of a file of blockCount blocks.
bool hasProgress(const FetchRange& range, std::uint32_t blockCount)
{
    return range.start < range.position && range.position <= blockCount;
}

// Small enough to be staged, with nothing at all at its place yet, and a name that still fits
// once the staging suffix is added.
bool canStage(const std::string& path, std::uint64_t size)
{
    struct stat st {};
    const auto name = std::string_view(path).substr(path.rfind('/') + 1);
    return size <= kStagedFileLimit && name.size() + 6 <= NAME_MAX && ::lstat(path.c_str(), &st) != 0 &&
           errno == ENOENT;
}
} // namespace

OpenResult FileStream::open(const std::string& path, FileInfoBlock& info, bool forWrite, const HostIdentity& taskId)
{
    close();
    if (forWrite && !describesBlocks(info))
        return OpenResult::OpenFailed;
    StreamMode mode = forWrite ? StreamMode::Resume : StreamMode::Read;
    StreamSlot slot;
    bool created = false;
    if (const auto found = table_.findByPath(path)) {
        const auto& known = table_.at(*found).info;
        if (forWrite && (known.digestText != info.digestText || known.size != info.size))
            return OpenResult::OpenFailed;
        if (!forWrite && differsFrom(info, known))
            return OpenResult::DigestDiffers;
        slot = *found;
    } else {
        const auto result = createEntry(path, info, forWrite, mode, slot);
        if (result != OpenResult::Ok)
            return result;
        created = true;
    }
    StreamEntry& entry = table_.at(slot);
    info = entry.info;
    auto file = openFile(path, entry, mode);
    if (!file.isOpen()) {
        if (created)
            table_.release(slot);
        return OpenResult::OpenFailed;
    }
    if (forWrite && isZero(entry.ownerTask))
        entry.ownerTask = taskId;
    file_ = std::move(file);
    slot_ = slot;
    mode_ = mode;
    return OpenResult::Ok;
}

OpenResult FileStream::createEntry(const std::string& path, const FileInfoBlock& info, bool forWrite, StreamMode& mode,
                                   StreamSlot& slot)
{
    StreamEntry entry;
    const auto checked = checkLocalFile(path, entry, table_.resume());
    entry.path = path;
    if (!forWrite) {
        if (checked != CheckResult::Loaded)
            return checked == CheckResult::Missing ? OpenResult::Missing : OpenResult::TooSmall;
        if (differsFrom(info, entry.info))
            return OpenResult::DigestDiffers;
    } else {
        // A partial file of another size is another file, whatever its first 5 MiB.
        const bool sizeDiffers = checked == CheckResult::Loaded && entry.info.size != info.size;
        if (differsFrom(info, entry.info) || sizeDiffers) {
            // Only a partial download of ours starts over; another file of that name is the
            // user's and stays as it is.
            if (checked != CheckResult::Missing && !isPartialDownload(path, table_.resume()))
                return OpenResult::NameTaken;
            entry.map.clear();
            entry.receivedKb = 0;
            mode = StreamMode::Truncate;
        }
        entry.info = info;
        entry.staged = checked == CheckResult::Missing && canStage(path, info.size);
    }
    const auto placed = table_.place(std::move(entry));
    if (!placed)
        return OpenResult::TableFull;
    slot = *placed;
    return OpenResult::Ok;
}

// Writing, the resume record is saved before anything in the file changes: behind an fdatasync
// of the blocks it claims, and before a truncation.
PosixFile FileStream::openFile(const std::string& path, StreamEntry& entry, StreamMode mode)
{
    // Links serving a staged file read its blocks where they are written.
    if (entry.staged)
        return PosixFile::open(stagedPath(path),
                               mode == StreamMode::Read ? PosixFile::Mode::Read : PosixFile::Mode::ReadWrite);
    if (mode == StreamMode::Read)
        return PosixFile::open(path, PosixFile::Mode::Read);
    auto file = PosixFile::open(path, PosixFile::Mode::ReadWrite);
    const bool complete = entry.map.isWhole(entry.info.blockCount);
    // A record that claims no block needs nothing of the file on disk before it.
    const bool recorded = complete || ((entry.map.empty() || file.syncData()) && table_.resume().save(recordOf(entry)));
    if (!file.isOpen() || !recorded || (mode == StreamMode::Truncate && !file.resize(0)))
        file.close();
    return file;
}

void FileStream::close()
{
    if (file_.isOpen() && slot_) {
        const auto users = otherUsers();
        const bool wrote = writes();
        flushRange();
        StreamEntry& entry = table_.at(*slot_);
        const bool partial = !entry.map.empty() && !entry.map.isWhole(entry.info.blockCount);
        if (!users.writtenElsewhere && wrote && partial && !entry.staged)
            writeTrailer(entry);
        if (!users.shared) {
            // What a staged file got so far is dropped with its entry.
            if (entry.staged)
                std::remove(stagedPath(entry.path).c_str());
            table_.release(*slot_);
        }
    }
    file_.close();
    slot_.reset();
    mode_ = StreamMode::Null;
    range_ = {};
    peerMap_.clear();
}

bool FileStream::flushRange()
{
    bool recorded = true;
    StreamEntry* entry = this->entry();
    if (entry && hasProgress(range_, entry->info.blockCount)) {
        const auto before = static_cast<std::uint32_t>(entry->map.countBlocks());
        recorded = entry->map.addRange(range_.start, range_.position);
        const auto after = static_cast<std::uint32_t>(entry->map.countBlocks());
        const std::uint32_t fetched = range_.position - range_.start;
        if (entry->receivedKb < after)
            entry->receivedKb = after;
        else if (after - before < fetched)
            entry->receivedKb = entry->receivedKb - (after - before) + fetched;
        if (after != before && writes())
            recorded = recordProgress(*entry) && recorded;
    }
    range_ = {};
    peerMap_.clear();
    return recorded;
}

bool FileStream::saveProgress()
{
    const StreamEntry* entry = this->entry();
    if (!entry || !writes())
        return false;
    if (entry->staged)
        return true;
    // Positions are read before the sync, so every block claimed was written before it. On Linux
    // fdatasync flushes the file's data whichever descriptor wrote it, so other writers'
    // progress is covered too.
    auto record = recordOf(*entry);
    const auto addProgress = [&](const FileStream& stream) {
        if (stream.writes() && sharesEntryWith(stream) && hasProgress(stream.range_, entry->info.blockCount))
            record.map.addRange(stream.range_.start, stream.range_.position);
    };
    addProgress(*this);
    others_.forEachStream(addProgress);
    return table_.resume().saveAfterSync(file_, std::move(record));
}

std::size_t FileStream::readAt(std::uint32_t block, std::uint32_t count, MutableByteSpan into) const
{
    if (!file_.isOpen())
        return 0;
    const auto wanted = std::min<std::uint64_t>(std::uint64_t{count} * kBlockSize, into.size());
    return file_.readAt(std::uint64_t{block} * kBlockSize, into.first(static_cast<std::size_t>(wanted)));
}

bool FileStream::writeAt(std::uint32_t block, ByteSpan bytes)
{
    const StreamEntry* entry = this->entry();
    if (!entry || !writes())
        return false;
    const std::uint64_t offset = std::uint64_t{block} * kBlockSize;
    const std::uint64_t end = offset + bytes.size();
    if (end > entry->info.size || (bytes.size() % kBlockSize != 0 && end != entry->info.size))
        return false;
    return file_.writeAt(offset, bytes);
}

bool FileStream::sharesEntryWith(const FileStream& other) const
{
    return &other.table_ == &table_ && slot_ && other.slot_ == slot_;
}

FileStream::EntryUsers FileStream::otherUsers() const
{
    EntryUsers users;
    others_.forEachStream([&](const FileStream& stream) {
        if (&stream == this || !sharesEntryWith(stream))
            return;
        users.shared = true;
        users.writtenElsewhere = users.writtenElsewhere || stream.writes();
    });
    return users;
}

bool FileStream::recordProgress(StreamEntry& entry)
{
    const bool complete = entry.map.isWhole(entry.info.blockCount);
    // A complete file is exactly its size: no old trailer may linger past its end.
    const auto length = file_.size();
    if (complete && length && *length > entry.info.size && !file_.resize(entry.info.size))
        return false;
    if (entry.staged) {
        if (!complete || handsOverStaged_)
            return true;
        if (!file_.syncData() || std::rename(stagedPath(entry.path).c_str(), entry.path.c_str()) != 0)
            return false;
        entry.staged = false;
        // A partial download of an earlier, larger file of that name is over.
        return table_.resume().remove(entry.path);
    }
    if (!complete)
        return table_.resume().saveAfterSync(file_, recordOf(entry));
    return file_.syncData() && table_.resume().remove(entry.path);
}

std::optional<StagedFile> FileStream::takeWholeStagedFile()
{
    StreamEntry* entry = this->entry();
    if (!entry || !entry->staged || !entry->map.isWhole(entry->info.blockCount))
        return std::nullopt;
    auto file = file_.duplicate();
    if (!file.isOpen())
        return std::nullopt;
    entry->staged = false;
    // A partial download of an earlier, larger file of that name is over.
    table_.resume().remove(entry->path);
    return StagedFile{std::move(file), stagedPath(entry->path), entry->path};
}

// The record gives up the blocks the trailer overwrites before the trailer is written.
void FileStream::writeTrailer(StreamEntry& entry)
{
    const auto length = file_.size();
    if (!length)
        return;
    const auto placement = placeTrailer(*length, entry.info, entry.map);
    if (!placement)
        return;
    if (placement->map != entry.map) {
        entry.map = placement->map;
        if (!table_.resume().save(recordOf(entry)))
            return;
    }
    file_.writeAt(placement->offset, encodeResumeTrailer(entry.info, entry.map));
}

} // namespace vandry
