#include "store/share_services.h"

#include <filesystem>

#include "link/share_path.h"
#include "store/listing.h"
#include "store/share_hash_table.h"
#include "store/share_index.h"

namespace vandry {

ShareServices::ShareServices(ShareIndex& index, ShareHashTable& hashes, std::function<std::string()> shareRoot)
    : index_(index), hashes_(hashes), shareRoot_(std::move(shareRoot))
{
}

int ShareServices::query(std::string_view text, MutableByteSpan destination, std::uint8_t flags)
{
    return index_.query(text, destination, destination.size(), flags);
}

std::vector<std::uint8_t> ShareServices::listFolder(std::string_view wireFolderPath, std::size_t room)
{
    const ConfinedPath folder = resolveSharedFolder(wireFolderPath, shareRoot_());
    if (!folder.ok())
        return {};
    return buildListing({}, folder.path, room, false, nullptr);
}

std::string ShareServices::pathForKey(const FileKey& key)
{
    const std::string local = hashes_.pathForKey(key);
    if (local.empty())
        return {};
    std::error_code ec;
    const auto root = std::filesystem::canonical(shareRoot_(), ec);
    if (ec)
        return {};
    const auto relative = std::filesystem::path(local).lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..")
        return {};
    return localToWirePath("/" + relative.string());
}

} // namespace vandry
