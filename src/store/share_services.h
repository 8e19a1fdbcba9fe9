#pragma once
// What this copy answers to its neighbours' requests: share queries from the name index, folder
// listings of the shared folder (never of anything outside it), and the shared file that has a
// given digest and size.

#include <functional>
#include <string>

#include "discovery/request_services.h"

namespace vandry {

class ShareIndex;
class ShareHashTable;

class ShareServices final : public RequestServices {
public:
    // `shareRoot` gives the current share root, a local folder.
    ShareServices(ShareIndex& index, ShareHashTable& hashes, std::function<std::string()> shareRoot);

    int query(std::string_view text, MutableByteSpan destination, std::uint8_t flags) override;
    std::vector<std::uint8_t> listFolder(std::string_view wireFolderPath, std::size_t room) override;
    // The file as a path inside the share ("\folder\name"), which is how the neighbour asks for it.
    std::string pathForKey(const FileKey& key) override;

private:
    ShareIndex& index_;
    ShareHashTable& hashes_;
    std::function<std::string()> shareRoot_;
};

} // namespace vandry
