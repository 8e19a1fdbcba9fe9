#pragma once
// ShareHashTable: the file digests this copy has computed, by full local path, so that a folder
// listing need not read 5 MiB of every file again, and so that a neighbour asking for a digest and
// size finds the shared file that has them. At most 2048 entries, one path per distinct digest:
// storing the same content under another path moves the entry there. Entries are never removed;
// one whose file has gone or changed turns invalid and is not saved.
//
// "Table.hash", text with lines ending "\r\n":
//   the version line "V1\r\n" (persist_version.h), then one line per entry that is not invalid,
//   written as "%s%8X %8X %s\r\n":
//      0-31  digest, 32 lower-case hexadecimal digits
//     32-39  size in bytes (low 32 bits), upper-case hexadecimal right-aligned with spaces
//     40     a space
//     41-48  last-write time, seconds since 1970, in the same form
//     49     a space
//     50-    full local path
// A line that does not match (too short, fields that are not hexadecimal, size 0, a path that is
// not absolute) is skipped; a missing file or an older version loads nothing. Paths holding a
// line break cannot be written and are left out. The file is replaced atomically.
//
// An entry read back from the file is trusted only once its file has been checked again: the same
// size and last-write time, or else the same digest recomputed.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/md5.h"
#include "discovery/control_datagram.h"

namespace vandry {

class FileInfoSource;

struct DigestAndSize {
    std::array<std::uint8_t, 16> digest{};
    std::uint64_t size = 0;
    bool operator==(const DigestAndSize&) const = default;
};

class ShareHashTable {
public:
    static constexpr std::size_t kSlots = 2048;

    // `shareRoot` gives the current share root (a local folder) whenever a reverse lookup needs it.
    ShareHashTable(FileInfoSource& info, std::function<std::string()> shareRoot);

    // "Table.hash"; a missing or rejected file leaves the table empty.
    void load(const std::filesystem::path& file);
    // Nothing when the table is empty, so an earlier file stays.
    void save(const std::filesystem::path& file) const;

    // Records a digest just computed or received for `path` (an absolute path); a zero size or a
    // digest that is not 32 hexadecimal digits is not stored.
    void storeDigest(const std::string& path, std::string_view digestHex, std::uint32_t size);
    std::optional<std::uint32_t> sizeForPath(const std::string& path) const;
    // Never computes a digest.
    std::optional<DigestAndSize> digestForPath(const std::string& path);
    // As digestForPath, computing the digest of a complete file when `compute` is set.
    std::optional<DigestAndSize> digestForListing(const std::string& path, bool compute);
    void markPathVerified(const std::string& path);
    // The checked file inside the share root with the key's digest and size, or "".
    std::string pathForKey(const FileKey& key);

    std::size_t entryCount() const { return entries_.size(); }

private:
    enum class State : int { Invalid = -1, Unchecked = 0, Checked = 1, OutsideShare = 2 };
    struct Entry {
        State state = State::Unchecked;
        Md5Digest digest{};
        std::uint32_t modified = 0;
        std::uint32_t size = 0;
        std::string path;
    };

    bool verifyEntry(Entry& entry);
    std::optional<DigestAndSize> lookup(const std::string& path, bool compute);

    FileInfoSource& info_;
    std::function<std::string()> shareRoot_;
    std::vector<Entry> entries_; // the slots in use, from slot 0 without gaps
};

} // namespace vandry
