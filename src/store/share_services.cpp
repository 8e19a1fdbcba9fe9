#include "store/share_services.h"

#include <filesystem>

#include "common/hex.h"
#include "link/share_path.h"
#include "store/listing.h"
#include "store/share_hash_table.h"
#include "store/share_index.h"

namespace vandry {

namespace {
// Files of the asked size whose digest a source lookup may compute.
constexpr std::size_t kDigestCandidates = 4;
} // namespace

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
    const std::string shareRoot = shareRoot_();
    const ConfinedPath folder = resolveSharedFolder(wireFolderPath, shareRoot);
    if (!folder.ok())
        return {};
    return buildListing({}, folder.path, room, false, nullptr, shareRoot);
}

std::string ShareServices::pathForKey(const FileKey& key)
{
    const std::string shareRoot = shareRoot_();
    std::error_code ec;
    const auto root = std::filesystem::canonical(shareRoot, ec);
    if (ec)
        return {};
    // Only a path the file link would serve is offered: one that leads through a link to a file
    // outside the share is refused there, so the neighbour would gain a source that never serves.
    const auto servable = [&](const std::string& wirePath) { return resolveSharedFile(wirePath, shareRoot).ok(); };
    if (const std::string known = hashes_.pathForKey(key); !known.empty()) {
        const auto relative = std::filesystem::path(known).lexically_relative(root);
        if (!relative.empty() && *relative.begin() != "..") {
            const std::string wirePath = localToWirePath("/" + relative.string());
            if (servable(wirePath))
                return wirePath;
        }
    }
    // Not digested yet: a shared file of that size may be it. Sizes rarely collide, so at most a
    // few files are read, and every digest read is remembered: asking again with a wrong digest
    // must not make this copy read the same files again.
    ByteReader in(key);
    const auto digest = in.bytes<16>();
    const std::uint32_t sizeLow = in.u32le();
    for (const std::string& relative : index_.filesOfSize(sizeLow, kDigestCandidates)) {
        // The index is a snapshot: a file may have been replaced by a link since.
        if (!servable(localToWirePath(relative)))
            continue;
        const std::string path = root.string() + relative;
        const auto file = hashes_.digestForListing(path, true);
        if (!file)
            continue;
        hashes_.storeDigest(path, hexEncode(file->digest), static_cast<std::uint32_t>(file->size));
        if (file->digest == digest && static_cast<std::uint32_t>(file->size) == sizeLow)
            return localToWirePath(relative);
    }
    return {};
}

} // namespace vandry
