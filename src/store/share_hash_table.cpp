#include "store/share_hash_table.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

#include "common/hex.h"
#include "store/file_info_source.h"
#include "store/persist_version.h"
#include "store/posix_file.h"

namespace vandry {

namespace {

constexpr std::size_t kDigestChars = 32;
constexpr std::size_t kSizeColumn = 32;
constexpr std::size_t kTimeColumn = 41;
constexpr std::size_t kNumberWidth = 8;
constexpr std::size_t kPathColumn = 50;
// Far beyond 2048 lines of the longest paths; a larger file is read only this far.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

struct DiskState {
    std::uint64_t size = 0;
    std::uint32_t modified = 0;
};

std::optional<DiskState> regularFileState(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return DiskState{static_cast<std::uint64_t>(st.st_size), static_cast<std::uint32_t>(st.st_mtime)};
}

std::optional<Md5Digest> decodeDigest(std::string_view hex)
{
    const auto bytes = hexDecode(hex, Md5Digest{}.size());
    if (!bytes)
        return std::nullopt;
    Md5Digest digest{};
    std::copy(bytes->begin(), bytes->end(), digest.begin());
    return digest;
}

// An 8-character "%8X" field: spaces, then one to eight hexadecimal digits.
std::optional<std::uint32_t> parsePaddedHex(std::string_view field)
{
    const auto first = field.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : field.substr(first)) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

bool storablePath(std::string_view path)
{
    return !path.empty() && path.front() == '/' && path.find('\0') == std::string_view::npos;
}

bool writablePath(std::string_view path)
{
    return path.find_first_of("\r\n") == std::string_view::npos;
}

// `path` is `root` or lies below it, compared by whole components.
bool liesWithin(const std::string& path, std::string root)
{
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (root.empty())
        return false;
    const auto normal = std::filesystem::path(path).lexically_normal().string();
    if (root == "/")
        return normal.front() == '/';
    return normal == root ||
           (normal.size() > root.size() && normal.compare(0, root.size(), root) == 0 && normal[root.size()] == '/');
}

// Listings name files below the share root as given or below the folder it resolves to.
bool liesInShare(const std::string& path, const std::string& root, const std::string& resolvedRoot)
{
    return liesWithin(path, root) || liesWithin(path, resolvedRoot);
}

} // namespace

ShareHashTable::ShareHashTable(FileInfoSource& info, std::function<std::string()> shareRoot)
    : info_(info), shareRoot_(std::move(shareRoot))
{
}

void ShareHashTable::load(const std::filesystem::path& file)
{
    entries_.clear();
    const auto in = PosixFile::open(file, PosixFile::Mode::Read);
    const auto length = in.isOpen() ? in.size() : std::nullopt;
    if (!length)
        return;
    std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(*length, kMaxFileBytes)), '\0');
    text.resize(in.readAt(0, MutableByteSpan(reinterpret_cast<std::uint8_t*>(text.data()), text.size())));
    const auto start = checkVersionLine(text, kPersistVersion);
    if (!start)
        return;
    std::string_view rest = std::string_view(text).substr(*start);
    while (!rest.empty() && entries_.size() < kSlots) {
        const auto feed = rest.find('\n');
        auto line = rest.substr(0, feed);
        rest = feed == std::string_view::npos ? std::string_view{} : rest.substr(feed + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() <= kPathColumn || line[kSizeColumn + kNumberWidth] != ' ' ||
            line[kTimeColumn + kNumberWidth] != ' ')
            continue;
        const auto digest = decodeDigest(line.substr(0, kDigestChars));
        const auto size = parsePaddedHex(line.substr(kSizeColumn, kNumberWidth));
        const auto modified = parsePaddedHex(line.substr(kTimeColumn, kNumberWidth));
        const auto path = line.substr(kPathColumn);
        // A zero size would read as a free slot and hide every entry after it.
        if (!digest || !size || *size == 0 || !modified || !storablePath(path))
            continue;
        entries_.push_back({State::Unchecked, *digest, *modified, *size, std::string(path)});
    }
}

void ShareHashTable::save(const std::filesystem::path& file) const
{
    if (entries_.empty())
        return;
    std::string text;
    writeVersionLine(text, kPersistVersion);
    for (const auto& entry : entries_) {
        if (entry.state == State::Invalid || !writablePath(entry.path))
            continue;
        char numbers[32];
        std::snprintf(numbers, sizeof numbers, "%8X %8X ", static_cast<unsigned>(entry.size),
                      static_cast<unsigned>(entry.modified));
        text += hexEncode(entry.digest) + numbers + entry.path + "\r\n";
    }
    replaceFileAtomically(file, asBytes(text));
}

void ShareHashTable::storeDigest(const std::string& path, std::string_view digestHex, std::uint32_t size)
{
    const auto digest = decodeDigest(digestHex);
    if (!digest || size == 0 || !storablePath(path))
        return;
    auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.digest == *digest; });
    if (entry == entries_.end()) {
        if (entries_.size() == kSlots)
            return;
        entry = entries_.insert(entries_.end(), Entry{});
    }
    // The last-write time stays what the slot held (0 when new), so the first check after a restart
    // recomputes the digest once.
    entry->state = State::Checked;
    entry->digest = *digest;
    entry->size = size;
    entry->path = path;
}

std::optional<std::uint32_t> ShareHashTable::sizeForPath(const std::string& path) const
{
    for (const auto& entry : entries_)
        if (entry.state != State::Invalid && entry.path == path)
            return entry.size;
    return std::nullopt;
}

std::optional<DigestAndSize> ShareHashTable::digestForPath(const std::string& path)
{
    return lookup(path, false);
}

std::optional<DigestAndSize> ShareHashTable::digestForListing(const std::string& path, bool compute)
{
    return lookup(path, compute);
}

std::optional<DigestAndSize> ShareHashTable::lookup(const std::string& path, bool compute)
{
    for (auto& entry : entries_) {
        if (entry.state == State::Invalid || entry.path != path)
            continue;
        if (entry.state != State::Unchecked || verifyEntry(entry))
            return DigestAndSize{entry.digest, entry.size};
    }
    const auto info = info_.fileInfo(path, compute);
    const auto digest = info ? decodeDigest(info->digest()) : std::nullopt;
    if (!digest)
        return std::nullopt;
    return DigestAndSize{*digest, info->size};
}

void ShareHashTable::markPathVerified(const std::string& path)
{
    const auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.path == path; });
    if (entry != entries_.end())
        entry->state = State::Checked;
}

std::string ShareHashTable::pathForKey(const FileKey& key)
{
    ByteReader in(key);
    const auto digest = in.bytes<16>();
    const auto size = in.u32le();
    const auto root = shareRoot_();
    std::error_code ec;
    const auto resolvedRoot = root.empty() ? std::string{} : std::filesystem::canonical(root, ec).string();
    for (auto& entry : entries_) {
        if (entry.digest != digest || entry.size != size)
            continue;
        // Checked or not, a file outside the share is never offered to a neighbour.
        if (!liesInShare(entry.path, root, resolvedRoot)) {
            if (entry.state == State::Unchecked)
                entry.state = State::OutsideShare;
            continue;
        }
        if (entry.state == State::Unchecked)
            verifyEntry(entry);
        if (entry.state == State::Checked)
            return entry.path;
    }
    return {};
}

bool ShareHashTable::verifyEntry(Entry& entry)
{
    entry.state = State::Invalid;
    const auto disk = regularFileState(entry.path);
    if (!disk)
        return false;
    const auto sizeLow = static_cast<std::uint32_t>(disk->size);
    if (sizeLow == entry.size && disk->modified == entry.modified) {
        entry.state = State::Checked;
        return true;
    }
    const auto info = info_.fileInfo(entry.path, true);
    const auto digest = info ? decodeDigest(info->digest()) : std::nullopt;
    if (!digest || static_cast<std::uint32_t>(info->size) != entry.size || *digest != entry.digest)
        return false;
    entry.modified = disk->modified;
    entry.state = State::Checked;
    return true;
}

} // namespace vandry
