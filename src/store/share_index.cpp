#include "store/share_index.h"

#include <algorithm>
#include <string.h>

#include "common/text.h"

namespace vandry {

namespace {
// An occurrence is placed in its entry by stepping back to the entry's "|", never further.
constexpr std::size_t kStepBackLimit = 260;
// A file's mark: matched by the text, or added as a file of a matched folder.
constexpr std::uint8_t kFileMatched = 1;
constexpr std::uint8_t kFileContained = 2;

// The first occurrence of `pattern` in `text` from `from` on, or text.size(). memmem's shift
// tables skip far faster over a text of names than a first-character scan.
std::size_t findText(std::string_view text, std::string_view pattern, std::size_t from)
{
    if (from > text.size())
        return text.size();
    const void* found = ::memmem(text.data() + from, text.size() - from, pattern.data(), pattern.size());
    return found == nullptr ? text.size() : static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
}

// "|name   |": one whole entry, the name padded as the index pads it.
std::string wholeEntryPattern(std::string_view name, std::size_t minName)
{
    std::string pattern(1, kEntryBar);
    pattern += name;
    if (name.size() < minName)
        pattern.append(minName - name.size(), ' ');
    pattern += kEntryBar;
    return pattern;
}

// A folder path in the form the index rebuilds: each "\\" collapsed to "\", and no separator at
// the end (a folder path may be written with one).
std::string folderQueryPath(std::string_view text)
{
    std::string path;
    path.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        path += text[i];
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\')
            ++i;
    }
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}
} // namespace

std::size_t ShareIndex::EntrySet::strideAt(std::size_t at) const
{
    if (at >= length || names[at] != kEntryBar)
        return 0;
    const std::size_t stride = records[at];
    if (stride < minStride || stride > length - at || names[at + stride] != kEntryBar)
        return 0;
    return stride;
}

std::optional<std::size_t> ShareIndex::EntrySet::entryBefore(std::size_t at) const
{
    for (std::size_t back = 0; back <= kStepBackLimit && back <= at; ++back) {
        if (strideAt(at - back) != 0)
            return at - back;
    }
    return std::nullopt;
}

ShareIndex::EntrySet ShareIndex::folders() const
{
    return {index_.folderNames, index_.folderShownNames, index_.folderRecords, index_.folderLength(),
            kFolderRecordSize};
}

ShareIndex::EntrySet ShareIndex::files() const
{
    return {index_.fileNames, index_.fileShownNames, index_.fileRecords, index_.fileLength(), kFileRecordSize};
}

std::vector<std::string> ShareIndex::filesOfSize(std::uint32_t sizeLow, std::size_t limit) const
{
    std::vector<std::string> paths;
    const auto& files = index_.filesBySize;
    auto at = std::lower_bound(files.begin(), files.end(), sizeLow,
                               [](const auto& entry, std::uint32_t size) { return entry.first < size; });
    for (; at != files.end() && at->first == sizeLow && paths.size() < limit; ++at)
        paths.push_back(at->second);
    return paths;
}

void ShareIndex::build(const std::string& shareRoot)
{
    if (!shareRoot.empty())
        install(scanShare(shareRoot));
}

void ShareIndex::install(ShareIndexSnapshot snapshot)
{
    index_ = std::move(snapshot);
    // Only a finished layout answers: both texts closed, each with its parallel records.
    const auto closed = [](const std::string& names, const std::string& shown,
                           const std::vector<std::uint8_t>& records) {
        return !names.empty() && names.back() == kEntryBar && records.size() == names.size() &&
               shown.size() == names.size();
    };
    ready_ = closed(index_.folderNames, index_.folderShownNames, index_.folderRecords) &&
             closed(index_.fileNames, index_.fileShownNames, index_.fileRecords);
    folderMarks_.assign(ready_ ? index_.folderLength() : 0, kUnmarked);
    fileMarks_.assign(ready_ ? index_.fileLength() : 0, kUnmarked);
    markedFolders_.clear();
    markedFiles_.clear();
}

int ShareIndex::query(std::string_view text, MutableByteSpan destination, std::size_t capacity, std::uint8_t flags)
{
    if (!ready_ || text.size() >= kQueryTextLimit)
        return kQueryNotReady;
    clearMarks();
    answer_.clear();
    const std::string lowered = lowercaseAscii(text);
    int result = kQueryNothing;
    if (flags & kQueryShareRoot) {
        flags = kQueryShareRoot;
        if (folders().strideAt(index_.rootPosition) == 0)
            return kQueryOutside;
        markFolder(index_.rootPosition, kMarkMatched);
        result = kQueryAnswered;
    }
    if ((flags & kQueryFiles) && !matchFiles(lowered, flags & kQueryExactName, result))
        return kQueryOutside;
    if (flags & kQueryFolders) {
        const int code = matchFolders(lowered, flags, result);
        if (code != kQueryAnswered)
            return code;
    }
    if (result != kQueryAnswered)
        return result;
    if (!(flags & kQueryNoContainedFiles) && !addContainedFiles())
        result = kQueryCut;
    if (!(flags & kQueryNoSubfolders))
        markSubfolders();
    if (!markAncestors())
        return kQueryOutside;
    if (!outputFolders())
        result = kQueryCut;
    answer_.renumberParents();
    const std::size_t room = std::min(capacity, destination.size());
    if (answer_.blockSize() >= room)
        return kQueryTooBig;
    answer_.write(destination.first(room), index_.rootTextLength);
    return result;
}

template <typename OnEntry>
ShareIndex::Visit ShareIndex::forEachMatch(const EntrySet& set, std::string_view pattern, bool atBar,
                                           OnEntry onEntry) const
{
    for (std::size_t from = 0;;) {
        // An occurrence starting at the closing "|" belongs to no entry.
        const std::size_t match = findText(set.names, pattern, from);
        if (match >= set.length)
            return Visit::Next;
        const auto entry =
            atBar ? (set.strideAt(match) != 0 ? std::optional(match) : std::nullopt) : set.entryBefore(match);
        if (!entry)
            return Visit::Outside;
        const Visit visit = onEntry(*entry);
        if (visit != Visit::Next)
            return visit;
        from = std::max(*entry + set.strideAt(*entry), match + 1);
    }
}

bool ShareIndex::matchFiles(std::string_view text, bool exact, int& result)
{
    const EntrySet set = files();
    const EntrySet folderSet = folders();
    const std::string pattern = exact ? wholeEntryPattern(text, kMinFileName) : std::string(text);
    const Visit visit = forEachMatch(set, pattern, exact, [&](std::size_t at) {
        const std::size_t stride = set.strideAt(at);
        const std::uint32_t parent = readFileRecord(set.records, at).parent;
        // Too many matches for one answer: nothing is answered rather than an arbitrary few.
        if (folderSet.strideAt(parent) == 0 ||
            !answer_.addFile(set.shown.substr(at, stride), set.records.subspan(at, stride)))
            return Visit::Outside;
        markFile(at, kFileMatched);
        markFolder(parent, kMarkMatched);
        result = kQueryAnswered;
        return Visit::Next;
    });
    return visit != Visit::Outside;
}

int ShareIndex::matchFolders(std::string_view text, std::uint8_t flags, int& result)
{
    const std::string path = folderQueryPath(text);
    const std::size_t separator = path.rfind('\\');
    const std::string_view last =
        separator == std::string::npos ? std::string_view(path) : std::string_view(path).substr(separator + 1);
    const bool exact = flags & kQueryExactName;
    const bool wholeLast = flags == kQueryFolders;
    const std::string pattern = exact       ? wholeEntryPattern(path, kMinFolderName)
                                : wholeLast ? wholeEntryPattern(last, kMinFolderName)
                                            : std::string(last);
    bool found = false;
    const Visit visit = forEachMatch(folders(), pattern, exact || wholeLast, [&](std::size_t at) {
        // The folders above the share are in the index only to place its entries: their names
        // are the sharer's business, not an answer.
        if (at < index_.rootPosition)
            return Visit::Next;
        found = true;
        if (flags & kQueryAnyFolderPath) {
            markFolder(at, kMarkMatched);
            result = kQueryAnswered;
            return Visit::Next;
        }
        const auto rebuilt = folderPath(at);
        if (!rebuilt)
            return Visit::Outside;
        if (!equalsIgnoreAsciiCase(*rebuilt, path))
            return Visit::Next;
        markFolder(at, kMarkMatched);
        result = kQueryAnswered;
        return Visit::Stop;
    });
    if (visit == Visit::Outside)
        return kQueryOutside;
    if (!found && !(flags & kQueryFiles))
        return kQueryNoFolder;
    return kQueryAnswered;
}

// "\home\u\share\music" for the folder at `position` (a well-formed entry); none when a parent
// link leaves the index or does not lead upwards.
std::optional<std::string> ShareIndex::folderPath(std::size_t position) const
{
    const EntrySet set = folders();
    std::vector<std::string_view> names;
    for (std::size_t at = position;;) {
        std::string_view name = set.names.substr(at + 1, set.strideAt(at) - 1);
        while (!name.empty() && name.back() == ' ')
            name.remove_suffix(1);
        if (name != "\\")
            names.push_back(name);
        const std::uint32_t parent = readFolderRecord(set.records, at).parent;
        if (parent == kNoParentFolder)
            break;
        if (parent >= at || set.strideAt(parent) == 0)
            return std::nullopt;
        at = parent;
    }
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        path += '\\';
        path += *name;
    }
    return path;
}

// The files of every matched folder join the answer, folder by folder in index order.
bool ShareIndex::addContainedFiles()
{
    const EntrySet set = files();
    std::sort(markedFolders_.begin(), markedFolders_.end());
    for (const std::uint32_t folder : markedFolders_) {
        if (folderMarks_[folder] != kMarkMatched)
            continue;
        const auto range =
            std::lower_bound(index_.folderFiles.begin(), index_.folderFiles.end(), folder,
                             [](const FolderFiles& files, std::uint32_t position) { return files.folder < position; });
        if (range == index_.folderFiles.end() || range->folder != folder)
            continue;
        for (std::size_t at = range->first; at < range->end;) {
            const std::size_t stride = set.strideAt(at);
            if (stride == 0)
                break;
            if (fileMarks_[at] == kUnmarked) {
                if (!answer_.addFile(set.shown.substr(at, stride), set.records.subspan(at, stride)))
                    return false;
                markFile(at, kFileContained);
            }
            at += stride;
        }
    }
    return true;
}

void ShareIndex::markSubfolders()
{
    const EntrySet set = folders();
    for (std::size_t at = index_.rootPosition; at < set.length;) {
        const std::size_t stride = set.strideAt(at);
        if (stride == 0)
            return;
        const std::uint32_t parent = readFolderRecord(set.records, at).parent;
        if (parent >= index_.rootPosition && parent < at && folderMarks_[parent] == kMarkMatched &&
            folderMarks_[at] != kMarkMatched)
            markFolder(at, kMarkSubfolder);
        at += stride;
    }
}

bool ShareIndex::markAncestors()
{
    const EntrySet set = folders();
    const std::size_t marked = markedFolders_.size();
    for (std::size_t i = 0; i < marked; ++i) {
        std::size_t at = markedFolders_[i];
        if (folderMarks_[at] != kMarkMatched)
            continue;
        for (std::uint32_t parent = readFolderRecord(set.records, at).parent; parent != kNoParentFolder;
             parent = readFolderRecord(set.records, at).parent) {
            if (parent >= at || set.strideAt(parent) == 0)
                return false;
            // Marked on an earlier walk, together with everything above it.
            if (folderMarks_[parent] == kMarkAncestor)
                break;
            if (folderMarks_[parent] != kMarkMatched)
                markFolder(parent, kMarkAncestor);
            at = parent;
        }
    }
    return true;
}

bool ShareIndex::outputFolders()
{
    const EntrySet set = folders();
    std::sort(markedFolders_.begin(), markedFolders_.end());
    for (const std::uint32_t at : markedFolders_) {
        const std::size_t stride = set.strideAt(at);
        if (!answer_.addFolder(at, set.shown.substr(at, stride), set.records.subspan(at, stride), folderMarks_[at]))
            return false;
    }
    return true;
}

// Only well-formed entries are marked.
void ShareIndex::markFolder(std::size_t position, std::uint8_t mark)
{
    if (folderMarks_[position] == kUnmarked)
        markedFolders_.push_back(static_cast<std::uint32_t>(position));
    folderMarks_[position] = mark;
}

void ShareIndex::markFile(std::size_t position, std::uint8_t mark)
{
    if (fileMarks_[position] == kUnmarked)
        markedFiles_.push_back(position);
    fileMarks_[position] = mark;
}

void ShareIndex::clearMarks()
{
    for (const std::uint32_t at : markedFolders_)
        folderMarks_[at] = kUnmarked;
    for (const std::size_t at : markedFiles_)
        fileMarks_[at] = kUnmarked;
    markedFolders_.clear();
    markedFiles_.clear();
}

} // namespace vandry
