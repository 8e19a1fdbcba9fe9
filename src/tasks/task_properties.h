#pragma once
// What the task property dialog and `vandryctl properties` show of one task: its file, size and
// digest and the blocks held; one row per link receiving the file, with its source, range, rate
// and file; and, for a folder task, every listed file with its state.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "link/block_map.h"

namespace vandry {

// A link writing a stream entry, as the link table sees it.
struct ReceivingLink {
    std::uint8_t slot = 0;
    std::uint8_t entry = 0; // the stream entry it writes
    std::string peer;       // the sharer's nickname
    std::uint32_t rangeStart = 0;
    std::uint32_t rangeEnd = 0;
    std::uint32_t position = 0;
    std::string remotePath;
    std::string path; // how the link reaches the sharer (LinkSocket::path)
};

// Each receiving link's rate in K/s: once a second, two thirds of the blocks it moved since the
// last second plus a third of the rate before. A link that moved backwards (a new range) starts
// again from nothing.
class LinkRates {
public:
    void update(const std::vector<ReceivingLink>& links);
    std::uint32_t rate(std::uint8_t slot) const;

private:
    struct Entry {
        std::uint32_t lastPosition = 0;
        std::uint32_t rate = 0;
    };
    std::map<std::uint8_t, Entry> entries_;
};

struct PropertyLink {
    std::uint8_t slot = 0;
    std::string source;
    std::uint32_t rangeStart = 0;
    std::uint32_t rangeEnd = 0;
    std::uint32_t position = 0;
    std::uint32_t rateK = 0;
    std::string file; // the name the link asked for
    std::string path;
};

enum class FolderFileState : std::uint8_t { Waiting, Transferring, Finished };

struct ListedFolderFile {
    std::string name;
    std::uint64_t size = 0;
    FolderFileState state = FolderFileState::Waiting;
};

// The files listed under one folder header of a folder task ("\album\cd1\").
struct ListedFolder {
    std::string folder;
    std::vector<ListedFolderFile> files;
};

struct TaskProperties {
    bool isDirectory = false;
    bool running = false; // a stream entry is open for the task
    std::string file;
    std::uint64_t size = 0;
    std::string digest; // 32 hex digits, or empty when not known
    std::uint32_t blockCount = 0;
    std::vector<BlockRange> held;
    std::vector<PropertyLink> links;
    std::vector<ListedFolder> folders;
};

// "结束传输", "正在传输" or "队列等待".
std::string_view folderFileStateText(FolderFileState state);
// The folders and files of a folder task's listings, in listing order; a folder listed in parts
// is one entry.
std::vector<ListedFolder> listedFolders(ByteSpan listings);

} // namespace vandry
