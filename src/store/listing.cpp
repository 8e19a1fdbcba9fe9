#include "store/listing.h"

#include "common/file_digest.h"
#include "common/hex.h"
#include "discovery/request_server.h"
#include "link/file_info_block.h"
#include "link/share_path.h"
#include "store/folder_reader.h"
#include "store/listing_names.h"
#include "store/posix_file.h"
#include "store/share_hash_table.h"

namespace vandry {

namespace {

std::uint8_t withDigestState(std::uint8_t kind, std::uint8_t state)
{
    return static_cast<std::uint8_t>(kind | state << 4);
}

// Files and folders (links followed); anything else cannot be transferred and is left out, and so
// is a link that leads out of the share, since its content would be refused.
std::optional<ListingRecord> describeEntry(const FolderReader& folder, const std::string& base, const std::string& name,
                                           bool withDigests, const std::string& shareRoot)
{
    const auto st = folder.status(name, true);
    if (!st || !(S_ISDIR(st->st_mode) || S_ISREG(st->st_mode)))
        return std::nullopt;
    const auto own = folder.status(name, false);
    if (!own || (S_ISLNK(own->st_mode) && !staysInside(base + name, shareRoot)))
        return std::nullopt;
    ListingRecord record;
    const std::uint8_t kind = S_ISDIR(st->st_mode) ? kKindFolder : kKindFile;
    record.type = withDigests ? withDigestState(kind, kDigestUnknown) : kind;
    record.size = kind == kKindFile ? static_cast<std::uint64_t>(st->st_size) : 0;
    record.name = name;
    return record;
}

void fillDigest(ListingRecord& record, const std::string& path, ShareHashTable* hashes)
{
    bool known = false;
    if (hashes) {
        if (const auto found = hashes->digestForListing(path, true)) {
            record.digest = found->digest;
            record.size = found->size;
            known = true;
        }
    }
    // Files under one block have no file information; their digest is cheap to take here.
    if (!known && record.size > 0 && record.size < kBlockSize) {
        if (const auto digest = computeFileDigest(path)) {
            record.digest = *digest;
            known = true;
        }
    }
    if (!known)
        return;
    record.type = withDigestState(kKindFile, kDigestPresent);
    if (hashes)
        hashes->storeDigest(path, fileDigestText(record.digest), static_cast<std::uint32_t>(record.size));
}

} // namespace

std::vector<std::uint8_t> buildListing(std::string_view headerName, const std::string& folderPath, std::size_t capacity,
                                       bool withDigests, ShareHashTable* hashes, const std::string& shareRoot,
                                       std::size_t skip)
{
    FolderReader folder(folderPath);
    if (!folder.isOpen())
        return {};
    const std::string base = folderPath.ends_with('/') ? folderPath : folderPath + '/';
    std::vector<std::uint8_t> listing;
    ByteWriter out(listing);
    std::size_t lastRecord = 0;
    if (withDigests) {
        ListingRecord header;
        header.type = kHeaderType;
        header.name = headerName;
        if (header.encodedSize() >= capacity)
            return {};
        encodeListingRecord(header, out);
    }
    bool cut = false;
    while (const auto name = folder.next()) {
        auto record = describeEntry(folder, base, *name, withDigests, shareRoot);
        if (!record)
            continue;
        if (skip > 0) {
            --skip;
            continue;
        }
        if (listing.size() + record->encodedSize() >= capacity) {
            cut = true;
            break;
        }
        if (withDigests && record->kind() == kKindFile)
            fillDigest(*record, base + *name, hashes);
        lastRecord = listing.size();
        encodeListingRecord(*record, out);
    }
    if (!cut && !folder.failed() && !listing.empty())
        listing[lastRecord + kListingMarkOffset] = kMarkLast;
    return listing;
}

std::string DirectoryQueue::nextQueuedDirectory(std::string_view relativeWirePath, bool start,
                                                const std::string& shareRoot)
{
    if (!start) {
        if (queue_.empty())
            return {};
        auto next = std::move(queue_.front());
        queue_.pop_front();
        return next;
    }
    if (relativeWirePath.empty())
        return {};
    queue_.clear();
    std::string relative = "\\" + std::string(relativeWirePath);
    if (!relative.ends_with('\\'))
        relative += '\\';
    relative = collapseDoubleSeparators(relative);
    if (shareRoot.empty() || !isPlainWireFolder(relative))
        return {};
    std::string root = shareRoot;
    while (root.ends_with('/'))
        root.pop_back();
    queueTree(relative, root + wireToLocalPath(relative));
    return {};
}

void DirectoryQueue::queueTree(const std::string& relative, const std::string& local)
{
    queue_.push_back(relative);
    std::vector<std::string> children;
    {
        FolderReader folder(local);
        while (const auto name = folder.next()) {
            const auto st = folder.status(*name, false);
            if (st && S_ISDIR(st->st_mode) && isPlainName(*name))
                children.push_back(*name);
        }
    }
    // The folder is closed before descending, so a deep tree does not hold a descriptor per level.
    for (const auto& name : children)
        queueTree(relative + name + '\\', local + name + '/');
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::size_t maxSize)
{
    struct stat st {};
    // Opening a pipe would wait for a writer.
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const auto in = PosixFile::open(path, PosixFile::Mode::Read);
    const auto length = in.isOpen() ? in.size() : std::nullopt;
    if (!length || *length > maxSize)
        return std::nullopt;
    std::vector<std::uint8_t> content(static_cast<std::size_t>(*length));
    content.resize(in.readAt(0, content));
    return content;
}

bool writeWholeFile(const std::string& path, ByteSpan data, bool overwrite)
{
    auto file = PosixFile::open(path, PosixFile::Mode::ReadWrite);
    if (!file.isOpen())
        return false;
    if (overwrite && !file.resize(0))
        return false;
    const auto length = file.size();
    if (!length)
        return false;
    return *length != 0 || file.writeAt(0, data);
}

} // namespace vandry
