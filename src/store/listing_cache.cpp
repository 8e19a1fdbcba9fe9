#include "store/listing_cache.h"

#include <algorithm>
#include <iterator>
#include <sys/stat.h>

#include "common/file_digest.h"
#include "discovery/request_server.h"
#include "link/share_path.h"
#include "store/listing_names.h"
#include "store/listing_record.h"
#include "store/posix_file.h"
#include "store/share_hash_table.h"

namespace vandry {

namespace {

std::string collapseDoubleSlashes(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/')
            out += c;
    return out;
}

// Where a listed file goes locally; nothing when the sharer's names would lead out of the folder.
std::optional<std::string> localFilePath(const std::string& localBase, std::string_view tail, const std::string& name)
{
    if (!isSafeListedName(name) || !isSafeListedFolder(tail))
        return std::nullopt;
    return collapseDoubleSlashes(localBase + wireToLocalPath(tail) + name);
}

// The header's folder below the remote base; nothing when the header does not reach that far.
std::optional<std::string> tailBelow(const std::string& header, const std::string& remoteBase)
{
    if (!header.starts_with(remoteBase))
        return std::nullopt;
    return header.substr(remoteBase.size());
}

bool presentLocally(const ListingRecord& record, const std::string& path, ShareHashTable& hashes)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size != record.size)
        return false;
    const auto known = hashes.digestForPath(path);
    if (!known)
        return true;
    // A record without a known digest can only be held to its size.
    return static_cast<std::uint32_t>(known->size) == static_cast<std::uint32_t>(size) &&
           (record.digestState() != kDigestPresent || known->digest == record.digest);
}

} // namespace

void ListingCache::setMark(Slot& slot, std::size_t recordOffset, const ListingRecord& record, std::uint8_t mark)
{
    std::uint8_t& stored = slot.bytes[recordOffset + kListingMarkOffset];
    if (slot.counts && record.isFile() && record.size != 0)
        slot.counts->done += ((mark & kMarkDone) ? 1 : 0) - ((stored & kMarkDone) ? 1 : 0);
    stored = mark;
}

ListingCache::Slot* ListingCache::slotOf(const HostIdentity& task)
{
    const auto slot = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.task == task; });
    return slot == slots_.end() ? nullptr : &*slot;
}

const ListingCache::Slot* ListingCache::slotOf(const HostIdentity& task) const
{
    return const_cast<ListingCache*>(this)->slotOf(task);
}

int ListingCache::findCacheSlot(const HostIdentity& task) const
{
    const auto* slot = slotOf(task);
    return slot ? static_cast<int>(slot - slots_.data()) : -1;
}

int ListingCache::append(const HostIdentity& task, ByteSpan bytes, int needsReconcile)
{
    auto* slot = slotOf(task);
    if (!slot) {
        if (slots_.size() == kSlots)
            return -1;
        slot = &slots_.emplace_back();
        slot->task = task;
    }
    slot->needsReconcile = needsReconcile == 1;
    slot->counts.reset();
    if (slot->bytes.size() + bytes.size() > slot->capacity) {
        slot->capacity = (slot->capacity + bytes.size() + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
        slot->bytes.reserve(slot->capacity);
    }
    slot->bytes.insert(slot->bytes.end(), bytes.begin(), bytes.end());
    return static_cast<int>(slot - slots_.data());
}

bool ListingCache::appendFrame(const HostIdentity& task, ByteSpan frameBody)
{
    return append(task, frameBody, 0) >= 0;
}

int ListingCache::remove(const HostIdentity& task, bool keepBuffer)
{
    auto* slot = slotOf(task);
    if (!slot)
        return -1;
    if (keepBuffer) {
        slot->bytes.clear();
        slot->counts.reset();
        slot->pending = {};
        slot->handedOut.clear();
    } else
        slots_.erase(slots_.begin() + (slot - slots_.data()));
    return -1;
}

bool ListingCache::nextFile(const HostIdentity& task, TaskRecord& record, const std::string& localBase,
                            const std::string& remoteBase, bool withDigest, bool skipHandedOut)
{
    auto* slot = slotOf(task);
    bool found = false;
    if (slot) {
        // Passing over handed-out files, the walk goes on where the last one stopped: everything
        // before that is done, handed out or has no place here.
        const Scan start = skipHandedOut ? slot->pending : Scan{};
        std::string folder = start.folder;
        // Files under a header outside the task's remote folder have no place locally.
        std::optional<std::string> tail = start.tail;
        auto& bytes = slot->bytes;
        // The last record met: the next walk starts there, so a malformed record after it still
        // ends every walk.
        std::size_t stoppedAt = start.offset;
        forEachListingRecord(ByteSpan(bytes).subspan(start.offset), [&](std::size_t at, const ListingRecord& entry) {
            const std::size_t offset = start.offset + at;
            stoppedAt = offset;
            if (entry.isHeader()) {
                folder = entry.name;
                tail = tailBelow(entry.name, remoteBase);
                return true;
            }
            if (!entry.isFile() || (entry.mark & kMarkDone) || (skipHandedOut && entry.mark == kMarkHandedOut) || !tail)
                return true;
            const auto localPath = localFilePath(localBase, *tail, entry.name);
            if (!localPath)
                return true;
            setMark(*slot, offset, entry, kMarkHandedOut);
            if (slot->handedOut.size() == kHandedOutKept)
                slot->handedOut.erase(slot->handedOut.begin());
            slot->handedOut.push_back({offset, folder, tail});
            record.info = FileInfoBlock{};
            record.remotePath = collapseDoubleSeparators(folder + entry.name);
            record.localPath = *localPath;
            if (entry.size != 0) {
                if (withDigest && entry.hasDigestField()) {
                    // A record whose sharer knew no digest carries filler where the digest goes.
                    if (entry.digestState() == kDigestPresent)
                        record.info.setDigest(fileDigestText(entry.digest));
                    record.info.describe(entry.size);
                }
                found = true;
                return false;
            }
            if (!localBase.empty()) {
                createEmptyFile(record);
                setMark(*slot, offset, entry, kMarkDone);
            }
            return true;
        });
        if (skipHandedOut)
            slot->pending = {stoppedAt, folder, tail};
    }
    if (!found) {
        const auto separator = record.localPath.rfind('/');
        if (separator != std::string::npos)
            record.localPath.resize(separator + 1);
    }
    return found;
}

bool ListingCache::markFileDone(const HostIdentity& task, const TaskRecord& record)
{
    auto* slot = slotOf(task);
    if (!slot)
        return false;
    const auto separator = record.remotePath.rfind('\\');
    const auto folder = separator == std::string::npos
                            ? std::string{}
                            : collapseDoubleSeparators(std::string_view(record.remotePath).substr(0, separator + 1));
    const auto fileName = wireFileName(record.remotePath);
    const auto isTheFile = [&](const std::string& header, const ListingRecord& entry) {
        return entry.isFile() && (entry.mark & kMarkHandedOut) && entry.size == record.info.size &&
               collapseDoubleSeparators(header) == folder && entry.name == fileName;
    };
    // Usually it is one of the files handed out last, and among them one of the first: the links
    // of the task finish theirs roughly in the order they took them.
    auto& bytes = slot->bytes;
    for (auto place = slot->handedOut.begin(); place != slot->handedOut.end(); ++place) {
        const auto listed =
            place->offset < bytes.size() ? parseListingRecord(ByteSpan(bytes).subspan(place->offset)) : std::nullopt;
        if (listed && isTheFile(place->folder, listed->record)) {
            setMark(*slot, place->offset, listed->record, kMarkDone);
            slot->handedOut.erase(place);
            return true;
        }
    }
    bool marked = false;
    std::string header;
    forEachListingRecord(bytes, [&](std::size_t offset, const ListingRecord& entry) {
        if (entry.isHeader()) {
            header = entry.name;
            return true;
        }
        if (!isTheFile(header, entry))
            return true;
        setMark(*slot, offset, entry, kMarkDone);
        marked = true;
        return false;
    });
    return marked;
}

void ListingCache::reconcile(const HostIdentity& task, const std::string& localBase, const std::string& remoteBase,
                             ShareHashTable& hashes)
{
    auto* slot = slotOf(task);
    if (!slot || !slot->needsReconcile)
        return;
    slot->needsReconcile = false;
    slot->pending = {};
    slot->handedOut.clear();
    std::string tail;
    forEachListingRecord(slot->bytes, [&](std::size_t offset, const ListingRecord& entry) {
        if (entry.hasHeaderBits()) {
            const auto below = tailBelow(entry.name, remoteBase);
            if (!below)
                return false;
            tail = *below;
            return true;
        }
        if (!entry.isFile())
            return true;
        const auto path = localFilePath(localBase, tail, entry.name);
        setMark(*slot, offset, entry, path && presentLocally(entry, *path, hashes) ? kMarkDone : 0);
        return true;
    });
}

int ListingCache::progress(const HostIdentity& task, int* doneCount, int* totalCount) const
{
    int total = 0, done = 0;
    if (const auto* slot = slotOf(task)) {
        if (!slot->counts) {
            FileCounts counts;
            forEachListingRecord(slot->bytes, [&](std::size_t, const ListingRecord& entry) {
                if (entry.isFile() && entry.size != 0) {
                    ++counts.total;
                    counts.done += (entry.mark & kMarkDone) ? 1 : 0;
                }
                return true;
            });
            slot->counts = counts;
        }
        total = slot->counts->total;
        done = slot->counts->done;
    }
    if (doneCount)
        *doneCount = done;
    if (totalCount)
        *totalCount = total;
    return total == 0 ? 0 : done * 100 / total;
}

ByteSpan ListingCache::buffer(const HostIdentity& task) const
{
    const auto* slot = slotOf(task);
    return slot ? ByteSpan(slot->bytes) : ByteSpan{};
}

std::size_t ListingCache::capacity(const HostIdentity& task) const
{
    const auto* slot = slotOf(task);
    return slot ? slot->capacity : 0;
}

std::int64_t ListingCache::refreshed(const HostIdentity& task) const
{
    const auto* slot = slotOf(task);
    return slot ? slot->refreshed : 0;
}

void ListingCache::setRefreshed(const HostIdentity& task, std::int64_t when)
{
    if (auto* slot = slotOf(task))
        slot->refreshed = when;
}

bool createEmptyFile(const TaskRecord& record)
{
    ensureDirectories(record.localPath);
    return PosixFile::open(record.localPath, PosixFile::Mode::CreateWrite).isOpen();
}

} // namespace vandry
