#include "store/share_index_snapshot.h"

#include <algorithm>
#include <optional>

#include "common/text.h"

namespace vandry {

namespace {

struct RootChain {
    std::vector<std::string> base; // outermost first
    std::string rootName;
    std::size_t textLength = 0; // of "\" + base and root name joined by "\"
    bool rootNameTrimmed = false;
};

RootChain rootChain(std::string_view shareRoot)
{
    std::vector<std::string> parts;
    for (std::size_t at = 0; at <= shareRoot.size();) {
        const std::size_t end = std::min(shareRoot.find('/', at), shareRoot.size());
        if (end > at)
            parts.emplace_back(shareRoot.substr(at, end - at));
        at = end + 1;
    }
    RootChain chain;
    if (parts.empty()) {
        chain.rootName = "\\";
        chain.textLength = 1;
        return chain;
    }
    chain.rootName = parts.back();
    parts.pop_back();
    chain.textLength = 1 + chain.rootName.size();
    if (chain.textLength > kMaxRootTextLength) {
        chain.rootName = utf8Prefix(chain.rootName, kMaxRootTextLength - 1);
        chain.textLength = 1 + chain.rootName.size();
        chain.rootNameTrimmed = true;
    }
    std::size_t kept = parts.size();
    while (kept > 0 && chain.textLength + parts[kept - 1].size() + 1 <= kMaxRootTextLength) {
        chain.textLength += parts[kept - 1].size() + 1;
        --kept;
    }
    chain.base.assign(parts.begin() + static_cast<std::ptrdiff_t>(kept), parts.end());
    for (auto& name : chain.base)
        std::replace(name.begin(), name.end(), kEntryBar, '_');
    std::replace(chain.rootName.begin(), chain.rootName.end(), kEntryBar, '_');
    return chain;
}

bool indexable(std::string_view name)
{
    return !name.empty() && name.size() <= kMaxIndexedName && name.find(kEntryBar) == std::string_view::npos &&
           name.find('\\') == std::string_view::npos;
}

std::size_t stride(std::string_view name, std::size_t minName)
{
    return std::max(name.size(), minName) + 1;
}

struct TextSizes {
    std::size_t folders = 0;
    std::size_t files = 0;
};

// What the tree below `folder` adds to each text, so each is allocated once.
void measureContents(const SharedFolder& folder, TextSizes& sizes)
{
    for (const auto& file : folder.files)
        sizes.files += stride(file.name, kMinFileName);
    for (const auto& sub : folder.folders) {
        sizes.folders += stride(sub.name, kMinFolderName);
        measureContents(sub, sizes);
    }
}

class IndexWriter {
public:
    IndexWriter(ShareIndexSnapshot& out, std::size_t folderTextLimit) : out_(out), folderTextLimit_(folderTextLimit) {}

    // The new folder's position; none when it would end beyond what a parent field can address.
    // The folders above the share keep their case in the search text too.
    std::optional<std::uint32_t> addFolder(std::string_view name, std::uint32_t parent, bool searchLowercased = true)
    {
        const std::size_t position = out_.folderNames.size();
        const std::size_t step = stride(name, kMinFolderName);
        if (position + step > folderTextLimit_) {
            out_.stats.cut = true;
            return std::nullopt;
        }
        appendName(out_.folderNames, out_.folderShownNames, out_.folderRecords, name, step, searchLowercased);
        writeFolderRecord(out_.folderRecords, position, {static_cast<std::uint8_t>(step), parent, 0, kUnmarked});
        ++out_.stats.folders;
        return static_cast<std::uint32_t>(position);
    }

    void addFile(std::string_view name, std::uint64_t size, std::uint32_t parent)
    {
        const std::size_t position = out_.fileNames.size();
        const std::size_t step = stride(name, kMinFileName);
        appendName(out_.fileNames, out_.fileShownNames, out_.fileRecords, name, step, true);
        writeFileRecord(out_.fileRecords, position,
                        {static_cast<std::uint8_t>(step), parent, static_cast<std::uint32_t>(size)});
        ++out_.stats.files;
    }

    std::size_t fileTextLength() const { return out_.fileNames.size(); }

    // Closes the folder's files, added since the file text was `firstFile` long.
    void setFileCount(std::uint32_t folder, std::size_t count, std::size_t firstFile)
    {
        auto record = readFolderRecord(out_.folderRecords, folder);
        record.fileCount = static_cast<std::uint8_t>(count);
        writeFolderRecord(out_.folderRecords, folder, record);
        out_.folderFiles.push_back({folder, firstFile, out_.fileNames.size()});
    }

    void close()
    {
        out_.folderNames += kEntryBar;
        out_.folderShownNames += kEntryBar;
        out_.folderRecords.push_back(0);
        out_.fileNames += kEntryBar;
        out_.fileShownNames += kEntryBar;
        out_.fileRecords.push_back(0);
    }

private:
    static void appendName(std::string& names, std::string& shown, std::vector<std::uint8_t>& records,
                           std::string_view name, std::size_t step, bool lowercased)
    {
        shown += kEntryBar;
        shown += name;
        shown.append(step - 1 - name.size(), ' ');
        names += kEntryBar;
        names += lowercased ? lowercaseAscii(name) : std::string(name);
        names.append(step - 1 - name.size(), ' ');
        records.resize(names.size(), 0);
    }

    ShareIndexSnapshot& out_;
    std::size_t folderTextLimit_;
};

// False once the index is cut: nothing more may be added.
bool addTree(IndexWriter& writer, const SharedFolder& folder, std::string_view name, std::uint32_t parent,
             ShareIndexStats& stats)
{
    const auto position = writer.addFolder(name, parent);
    if (!position)
        return false;
    const std::size_t firstFile = writer.fileTextLength();
    std::size_t files = 0;
    for (const auto& file : folder.files) {
        if (!indexable(file.name)) {
            ++stats.skippedNames;
            continue;
        }
        writer.addFile(file.name, file.size, *position);
        ++files;
    }
    writer.setFileCount(*position, files, firstFile);
    for (const auto& sub : folder.folders) {
        if (!indexable(sub.name)) {
            ++stats.skippedNames;
            continue;
        }
        if (!addTree(writer, sub, sub.name, *position, stats))
            return false;
    }
    return true;
}

void collectSizes(const SharedFolder& folder, const std::string& relative,
                  std::vector<std::pair<std::uint32_t, std::string>>& out)
{
    for (const auto& file : folder.files)
        out.emplace_back(static_cast<std::uint32_t>(file.size), relative + "/" + file.name);
    for (const auto& sub : folder.folders)
        collectSizes(sub, relative + "/" + sub.name, out);
}
} // namespace

ShareIndexSnapshot layoutShareIndex(std::string_view shareRoot, const SharedFolder& tree, std::size_t folderTextLimit)
{
    const RootChain chain = rootChain(shareRoot);
    ShareIndexSnapshot out;
    out.rootTextLength = static_cast<std::uint8_t>(chain.textLength);
    out.stats.rootNameTrimmed = chain.rootNameTrimmed;

    TextSizes sizes;
    measureContents(tree, sizes);
    for (const auto& name : chain.base)
        sizes.folders += stride(name, kMinFolderName);
    sizes.folders = std::min(sizes.folders + stride(chain.rootName, kMinFolderName), folderTextLimit) + 1;
    out.folderNames.reserve(sizes.folders);
    out.folderShownNames.reserve(sizes.folders);
    out.folderRecords.reserve(sizes.folders);
    out.fileNames.reserve(sizes.files + 1);
    out.fileShownNames.reserve(sizes.files + 1);
    out.fileRecords.reserve(sizes.files + 1);

    IndexWriter writer(out, folderTextLimit);
    std::optional<std::uint32_t> parent = kNoParentFolder;
    for (const auto& name : chain.base) {
        if (parent)
            parent = writer.addFolder(name, *parent, false);
    }
    out.rootPosition = static_cast<std::uint32_t>(out.folderNames.size());
    if (parent)
        addTree(writer, tree, chain.rootName, *parent, out.stats);
    writer.close();
    collectSizes(tree, {}, out.filesBySize);
    std::sort(out.filesBySize.begin(), out.filesBySize.end());
    return out;
}

ShareIndexSnapshot scanShare(const std::string& shareRoot)
{
    return layoutShareIndex(shareRoot, readShareTree(shareRoot));
}

} // namespace vandry
