#pragma once
// ShareIndex: answers neighbours' share queries from the name index of the shared folder,
// without opening a link. A query is a substring search over the names text of the files or of
// the folders, followed by walks along parent links that add the folders needed to place the
// matches. The answer block is described in share_answer.h, the index in
// share_index_snapshot.h and share_index_records.h.
//
// The walk of the disk (scanShare) runs on a worker; install() and query() run on the main
// thread and are cheap: a query touches only the entries it marks, plus one pass over the file
// and folder records.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "store/share_answer.h"
#include "store/share_index_snapshot.h"

namespace vandry {

enum ShareQueryFlag : std::uint8_t {
    kQueryFiles = 1,             // search file names for the text
    kQueryFolders = 2,           // the text is a folder path: search its last component
    kQueryExactName = 4,         // match whole names only
    kQueryAnyFolderPath = 8,     // with kQueryFolders: accept every folder whose name matches
    kQueryShareRoot = 16,        // list the shared folder itself; every other flag is ignored
    kQueryNoContainedFiles = 32, // leave out the files of matched folders
    kQueryNoSubfolders = 64,     // leave out the subfolders of matched folders
};

// Result codes of a query.
inline constexpr int kQueryAnswered = 0;
inline constexpr int kQueryCut = 2;      // answered, but a part filled up
inline constexpr int kQueryTooBig = 3;   // the answer does not fit the capacity
inline constexpr int kQueryNoFolder = 4; // a folder search found no folder and no file search was asked
inline constexpr int kQueryOutside = 10; // too many file matches, or an entry outside the index
inline constexpr int kQueryNothing = 1000;
inline constexpr int kQueryNotReady = -1; // no index, or the text is too long

// Texts of this many bytes or more are refused.
inline constexpr std::size_t kQueryTextLimit = 260;

class ShareIndex {
public:
    // Builds from the local share root (a native path); an empty path leaves the index unchanged.
    void build(const std::string& shareRoot);
    // Swaps in a finished walk. A snapshot without entries leaves the index not ready.
    void install(ShareIndexSnapshot snapshot);
    bool ready() const { return ready_; }

    // Answers into destination[0, capacity): offsets 0-7 and the data from offset 68; bytes 2 and
    // 8-67 are left alone, and nothing is written unless the result is 0 or 2.
    int query(std::string_view text, MutableByteSpan destination, std::size_t capacity, std::uint8_t flags);

    // At most `limit` shared files of that size (low 32 bits), as paths below the share root.
    std::vector<std::string> filesOfSize(std::uint32_t sizeLow, std::size_t limit) const;

    std::size_t folderLength() const { return index_.folderLength(); }
    std::size_t fileLength() const { return index_.fileLength(); }
    const ShareIndexStats& stats() const { return index_.stats; }

private:
    // One of the two name texts with its records.
    struct EntrySet {
        std::string_view names;
        std::string_view shown; // the same entries with the names as on disk, for answers
        ByteSpan records;
        std::size_t length = 0;
        std::size_t minStride = 0;
        // The stride of the well-formed entry at `at`, or 0.
        std::size_t strideAt(std::size_t at) const;
        // The entry an occurrence at `at` lies in: at most 260 positions back.
        std::optional<std::size_t> entryBefore(std::size_t at) const;
    };
    enum class Visit { Next, Stop, Outside };
    template <typename OnEntry>
    Visit forEachMatch(const EntrySet& set, std::string_view pattern, bool atBar, OnEntry onEntry) const;

    bool matchFiles(std::string_view text, bool exact, int& result);
    int matchFolders(std::string_view text, std::uint8_t flags, int& result);
    std::optional<std::string> folderPath(std::size_t position) const;
    bool addContainedFiles();
    void markSubfolders();
    bool markAncestors();
    bool outputFolders();
    void markFolder(std::size_t position, std::uint8_t mark);
    void markFile(std::size_t position, std::uint8_t mark);
    void clearMarks();
    EntrySet folders() const;
    EntrySet files() const;

    ShareIndexSnapshot index_;
    bool ready_ = false;
    // Work state of one query, kept between queries so none allocates.
    std::vector<std::uint8_t> folderMarks_;
    std::vector<std::uint8_t> fileMarks_;
    std::vector<std::uint32_t> markedFolders_;
    std::vector<std::size_t> markedFiles_;
    ShareAnswer answer_;
};

} // namespace vandry
