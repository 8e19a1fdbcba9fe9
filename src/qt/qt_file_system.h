#pragma once

#include "app/file_system.h"

namespace vandry {

// Folders through QFileInfo and QDir, mounted volumes through QStorageInfo, the download folder
// through QStandardPaths.
class QtFileSystem final : public FileSystemQueries {
public:
    bool isDirectory(std::string_view path) const override;
    bool isWritableDirectory(std::string_view path) const override;
    std::vector<MountPoint> mountPoints() const override;
    std::string userDownloadFolder() const override;
    bool makeDirectories(std::string_view path) const override;
};

// A file-system type that is served over the network or is not backed by a disk.
bool isNetworkOrPseudoFileSystem(std::string_view type);

} // namespace vandry
