#pragma once
// ShareIndexSnapshot: the share name index as one walk of the shared folder produced it, laid
// out as in share_index_records.h. It is built off the main thread and installed on it.
//
// The folder text begins with the chain of folders above the shared folder: for the share root
// "/home/u/share" the entries "home" and "u" (not lowercased), each the parent of the next, then
// the shared folder's own entry "share" and its tree, depth first, each folder's entry followed by
// its files and then its subfolders. The share root "/" is indexed under the name "\".
//
// A requester rebuilds a matched folder's path as "\home\u\share\music" and strips the length of
// "\home\u\share", which the answer carries in one byte. When that text would pass 255 bytes only
// the trailing folders of the chain that keep it within 255 are indexed, and a shared folder whose
// own name is too long has it cut. A "|" in the chain is indexed as "_": the chain only serves to
// be stripped, by length.
//
// Folder positions must fit the 22-bit parent field; when the folder text is full the index is
// cut there: entries after that point of the walk are missing, those written stay consistent.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/share_index_records.h"
#include "store/share_tree.h"

namespace vandry {

// Every folder entry must end within the positions the parent field can address.
inline constexpr std::size_t kFolderTextLimit = kNoParentFolder;
// The answer gives the length of the share root text in one byte.
inline constexpr std::size_t kMaxRootTextLength = 255;

struct ShareIndexStats {
    std::size_t files = 0;
    std::size_t folders = 0;      // the chain above the shared folder included
    std::size_t skippedNames = 0; // names left out of the index (their subtrees not counted)
    bool cut = false;             // the folder text filled up and the rest of the walk is missing
    bool rootNameTrimmed = false; // the shared folder's name alone was too long for the answer
};

// The files of one folder lie together in the file text: [first, end).
struct FolderFiles {
    std::uint32_t folder = 0;
    std::size_t first = 0;
    std::size_t end = 0;
};

struct ShareIndexSnapshot {
    // The names are searched lowercased; answers carry them as they are on disk, from the
    // "shown" texts, which hold the same entries at the same positions (lowercasing is ASCII only).
    std::string folderNames; // the entries, then the closing "|"
    std::string folderShownNames;
    std::vector<std::uint8_t> folderRecords; // parallel to folderNames
    std::string fileNames;
    std::string fileShownNames;
    std::vector<std::uint8_t> fileRecords;
    std::vector<FolderFiles> folderFiles; // one per folder of the tree, ascending by folder
    // Every shared file by its size (low 32 bits), as a path below the share root ("/a/b.bin"),
    // ascending by size: a neighbour's source lookup names a file by digest and size.
    std::vector<std::pair<std::uint32_t, std::string>> filesBySize;
    std::uint32_t rootPosition = 0; // the shared folder's own entry
    std::uint8_t rootTextLength = 0;
    ShareIndexStats stats;

    // A default snapshot holds no index at all (not even the shared folder's entry).
    bool empty() const { return folderNames.empty(); }
    std::size_t folderLength() const { return folderNames.empty() ? 0 : folderNames.size() - 1; }
    std::size_t fileLength() const { return fileNames.empty() ? 0 : fileNames.size() - 1; }
};

// Lays out the index of `tree`, walked from the native path `shareRoot`. `folderTextLimit`
// lowers the cut point for tests.
ShareIndexSnapshot layoutShareIndex(std::string_view shareRoot, const SharedFolder& tree,
                                    std::size_t folderTextLimit = kFolderTextLimit);

// Walks the disk once and lays out the index; a pure function of the disk, safe on any thread.
ShareIndexSnapshot scanShare(const std::string& shareRoot);

} // namespace vandry
