#include "qt/qt_file_system.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <array>

namespace vandry {

bool isNetworkOrPseudoFileSystem(std::string_view type)
{
    static constexpr std::array<std::string_view, 27> kExcluded = {
        "nfs",     "nfs4",       "cifs",   "smb3",    "smbfs",    "sshfs",    "fuse.sshfs", "9p",        "afs",
        "ncpfs",   "davfs",      "proc",   "sysfs",   "devtmpfs", "devpts",   "tmpfs",      "ramfs",     "cgroup",
        "cgroup2", "securityfs", "pstore", "debugfs", "tracefs",  "configfs", "mqueue",     "hugetlbfs", "autofs"};
    for (auto excluded : kExcluded)
        if (type == excluded)
            return true;
    return type.rfind("fuse.", 0) == 0 && type != "fuse.ntfs-3g";
}

namespace {
QString qtPath(std::string_view path)
{
    return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
}
} // namespace

bool QtFileSystem::isDirectory(std::string_view path) const
{
    return QFileInfo(qtPath(path)).isDir();
}

bool QtFileSystem::isWritableDirectory(std::string_view path) const
{
    const QFileInfo info(qtPath(path));
    return info.isDir() && info.isWritable() && info.isExecutable();
}

std::string QtFileSystem::userDownloadFolder() const
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return (folder.isEmpty() ? QDir::homePath() : folder).toStdString();
}

bool QtFileSystem::makeDirectories(std::string_view path) const
{
    return QDir().mkpath(qtPath(path)) && isDirectory(path);
}

std::vector<MountPoint> QtFileSystem::mountPoints() const
{
    std::vector<MountPoint> mounts;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid())
            continue;
        MountPoint mount;
        mount.path = volume.rootPath().toStdString();
        mount.local = !isNetworkOrPseudoFileSystem(volume.fileSystemType().toStdString());
        mount.bytesFree = static_cast<std::uint64_t>(std::max<qint64>(0, volume.bytesFree()));
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

} // namespace vandry
