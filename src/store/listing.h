#pragma once
// The sharing side of folder listings: the listing of one folder, the queue of folders a folder
// download still has to ask for, and the whole-file reads and writes of files under one block.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "store/listing_record.h"

namespace vandry {

class ShareHashTable;

// The room a listing answer over a link may fill: a 12-byte frame header plus the listing fit the
// 16-bit frame length.
inline constexpr std::size_t kLinkListingCapacity = 65523;

// The records of the absolute local folder `folderPath`, in the file system's order, the last one
// ending below `capacity`; empty when the folder cannot be read. With digests the listing starts
// with a header record named `headerName` (the folder in wire form, relative to the share root)
// and every file carries its digest when one is known or can be computed; `hashes` answers and
// remembers them. Only files and folders are listed. The last record is marked when the folder
// was listed to its end. Symbolic links that lead outside `shareRoot` are left out. `skip` passes
// over that many entries first: a folder too large for one listing is listed in parts.
std::vector<std::uint8_t> buildListing(std::string_view headerName, const std::string& folderPath, std::size_t capacity,
                                       bool withDigests, ShareHashTable* hashes, const std::string& shareRoot,
                                       std::size_t skip = 0);

// The folders a folder download still has to ask for, as wire paths relative to the share root
// that begin and end with "\".
class DirectoryQueue {
public:
    // With `start`: queue the folder `relativeWirePath` and every folder below it, depth first in
    // the file system's order, and answer "". Without: take the next queued folder, "" when none
    // is left. Folders reached through symbolic links and names holding "\" are left out; a path
    // with "." or ".." components queues nothing.
    std::string nextQueuedDirectory(std::string_view relativeWirePath, bool start, const std::string& shareRoot);

private:
    void queueTree(const std::string& relative, const std::string& local);

    std::deque<std::string> queue_;
};

// The whole content of the regular file `path` when it holds at most `maxSize` bytes.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::size_t maxSize);
// Opens `path` for writing, creating it if missing; with `overwrite` it is emptied first. The data
// is written when `overwrite` is set or the file is empty. True when it opened and the data went in.
bool writeWholeFile(const std::string& path, ByteSpan data, bool overwrite);

} // namespace vandry
