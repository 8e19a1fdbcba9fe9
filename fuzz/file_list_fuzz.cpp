// Feeds arbitrary bytes to the file list as a search answer and as folder listings (a new share
// and one under the first item), then checks the tree's links and selects every item.
#include <cstdlib>

#include "ui/file_list.h"

namespace {
void checkTree(const vandry::FileList& files, const vandry::FileItem& item, const vandry::FileItem* parent,
               std::size_t& count)
{
    if (item.parent != parent || files.find(item.id) != &item)
        std::abort();
    ++count;
    files.selectionFor(item, "/dl/");
    for (const auto& child : item.children)
        checkTree(files, *child, &item, count);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vandry;
    const ByteSpan input(data, size);
    FileList files;
    files.showSearchReply(input);
    files.showBrowseReply(input);
    if (size >= 8 && !files.roots().empty()) {
        // The same bytes as the listing of the first item's folder.
        std::vector<std::uint8_t> under(input.begin(), input.end());
        const auto id = static_cast<std::uint32_t>(files.roots().front()->id);
        for (std::size_t i = 0; i < 4; ++i)
            under[4 + i] = static_cast<std::uint8_t>(id >> (8 * i));
        files.showBrowseReply(under);
    }
    std::size_t count = 0;
    for (const auto& root : files.roots())
        checkTree(files, *root, nullptr, count);
    if (count != files.itemCount() || count > FileList::kMaxItems)
        std::abort();
    return 0;
}
