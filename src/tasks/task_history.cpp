#include "tasks/task_history.h"

#include <charconv>
#include <fstream>

#include "common/hex.h"
#include "link/local_file_check.h"
#include "store/listing_cache.h"
#include "store/persist_version.h"
#include "store/posix_file.h"
#include "store/share_hash_table.h"

namespace vandry {

namespace {
// The shortest line that can hold a task: the host record's 120 digits and more.
constexpr std::size_t kShortestLine = 121;

std::string hexOf(const std::string& text)
{
    std::string hex;
    hex.reserve(text.size() * 2);
    static constexpr char kDigits[] = "0123456789abcdef";
    for (const unsigned char c : text) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

std::optional<std::string> pathFromHex(std::string_view hex)
{
    if (hex.size() / 2 >= TaskRecord::kPathSize)
        return std::nullopt;
    const auto bytes = hexDecode(hex, hex.size() / 2);
    if (!bytes)
        return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

// "{8-4-4-4-12}" with or without its braces.
std::optional<HostIdentity> identityOfText(std::string_view text)
{
    if (!text.empty() && text.front() == '{')
        text.remove_prefix(1);
    if (!text.empty() && text.back() == '}')
        text.remove_suffix(1);
    return identityFromText(text);
}

int attributeOf(std::string_view text)
{
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value & 0xFF;
}
} // namespace

std::string historyLine(const TaskRow& row)
{
    int attribute = attributeOf(row[kTaskAttribute]) & ~kAttributeRunning;
    if (row[kTaskScheduled] == "1" && row[kTaskState] != kStateFinished)
        attribute |= kAttributeRunning;
    return row[kTaskHost] + "." + row[kTaskIdentity] + "." + hexOf(row[kTaskLocalPath]) + "." +
           hexOf(row[kTaskRemotePath]) + "." + std::to_string(attribute);
}

HistoryLineResult parseHistoryLine(std::string_view line, HistoryEntry& entry)
{
    if (line.size() < kShortestLine)
        return HistoryLineResult::Skip;
    std::string_view fields[5];
    for (std::size_t i = 0; i < 5; ++i) {
        const auto dot = line.find('.');
        fields[i] = i == 4 ? line : line.substr(0, dot);
        line = dot == std::string_view::npos || i == 4 ? std::string_view{} : line.substr(dot + 1);
    }
    const auto localPath = pathFromHex(fields[2]);
    const auto remotePath = pathFromHex(fields[3]);
    const auto identity = identityOfText(fields[1]);
    if (fields[0].empty() || fields[2].empty() || fields[3].empty() || !localPath || !remotePath || !identity)
        return HistoryLineResult::Stop;
    entry = HistoryEntry{};
    entry.hostHex = std::string(fields[0]);
    entry.identity = *identity;
    entry.record.localPath = *localPath;
    entry.record.remotePath = *remotePath;
    entry.record.directory = !localPath->empty() && localPath->back() == '/' ? 1 : 0;
    entry.record.attribute = static_cast<std::uint8_t>(attributeOf(fields[4]));
    return HistoryLineResult::Entry;
}

TaskHistory::TaskHistory(std::filesystem::path folder, TaskList& tasks, ListingCache& listings, ShareHashTable& hashes,
                         const ResumeStore& resume)
    : folder_(std::move(folder)), tasks_(tasks), listings_(listings), hashes_(hashes), resume_(resume)
{
}

void TaskHistory::load(const std::function<void(const HostIdentity& task)>& resume)
{
    std::ifstream in(historyFile(), std::ios::binary);
    if (!in || !checkVersionLine(in, kPersistVersion))
        return;
    std::vector<HostIdentity> running;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        HistoryEntry entry;
        const HistoryLineResult result = parseHistoryLine(line, entry);
        if (result == HistoryLineResult::Stop)
            break;
        if (result == HistoryLineResult::Skip)
            continue;
        const bool wasRunning = (entry.record.attribute & kAttributeRunning) != 0;
        entry.record.attribute &= static_cast<std::uint8_t>(~kAttributeRunning);
        int progress = 0;
        int done = 0;
        if (entry.record.directory) {
            loadQueue(identityText(entry.identity), entry.identity);
            progress = std::max(0, listings_.progress(entry.identity, &done));
        } else {
            progress = fileProgress(entry.record.localPath);
        }
        const AddedTask added = tasks_.addTaskRow(entry.record, entry.identity, entry.hostHex, progress, done);
        if (!added.existed && wasRunning && progress != kProgressFinished)
            running.push_back(entry.identity);
    }
    for (const HostIdentity& task : running)
        resume(task);
}

int TaskHistory::fileProgress(const std::string& localPath) const
{
    StreamEntry entry;
    switch (checkLocalFileForTask(localPath, entry, resume_, false)) {
    case CheckResult::Loaded:
        return entry.info.blockCount == 0 ? 0 : static_cast<int>(entry.map.countBlocks() * 100 / entry.info.blockCount);
    case CheckResult::Missing:
        return -1;
    case CheckResult::Unusable:
        break;
    }
    // A complete file without a record: finished when the hash table knows it at this size.
    std::error_code ec;
    const auto size = std::filesystem::file_size(localPath, ec);
    const auto known = hashes_.sizeForPath(localPath);
    return !ec && known && *known == static_cast<std::uint32_t>(size) ? kProgressFinished : kProgressUnknown;
}

void TaskHistory::save(bool withQueues)
{
    std::error_code ec;
    if (tasks_.rows().empty()) {
        if (saved_ != std::string())
            std::filesystem::remove(historyFile(), ec);
        saved_ = std::string();
        return;
    }
    std::string text;
    writeVersionLine(text, kPersistVersion);
    for (const TaskRow& row : tasks_.rows())
        text += historyLine(row) + "\r\n";
    if (text != saved_ && replaceFileAtomically(historyFile(), asBytes(text)))
        saved_ = std::move(text);
    if (!withQueues)
        return;
    for (const TaskRow& row : tasks_.rows()) {
        if (!TaskList::isDirectoryTask(row)) {
            hashes_.markPathVerified(row[kTaskLocalPath]);
            continue;
        }
        if (const auto identity = identityFromText(row[kTaskIdentity]))
            saveQueue(row[kTaskIdentity], *identity);
    }
}

void TaskHistory::saveQueue(const std::string& identityText, const HostIdentity& identity)
{
    const ByteSpan listing = listings_.buffer(identity);
    if (listing.empty())
        return;
    std::string text;
    writeVersionLine(text, kPersistVersion);
    text.append(reinterpret_cast<const char*>(listing.data()), listing.size());
    replaceFileAtomically(queueFile(identityText), asBytes(text));
}

void TaskHistory::loadQueue(const std::string& identityText, const HostIdentity& identity)
{
    std::ifstream in(queueFile(identityText), std::ios::binary);
    if (!in || !checkVersionLine(in, kPersistVersion))
        return;
    std::vector<std::uint8_t> listing(kMaxQueueBytes);
    in.read(reinterpret_cast<char*>(listing.data()), static_cast<std::streamsize>(listing.size()));
    listing.resize(static_cast<std::size_t>(in.gcount()));
    if (!listing.empty())
        listings_.append(identity, listing, 1);
}

} // namespace vandry
