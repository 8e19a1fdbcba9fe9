#pragma once
// In-memory stand-ins for the profile, the file system and the autostart entries.

#include <map>
#include <set>
#include <string>

#include "app/autostart.h"
#include "app/file_system.h"
#include "app/profile.h"

namespace vandry::testing {

class MemoryProfileStore final : public ProfileStore {
public:
    std::optional<std::string> readText(std::string_view section, std::string_view key) const override
    {
        auto it = values.find(std::string(section) + "/" + std::string(key));
        if (it == values.end())
            return std::nullopt;
        return it->second;
    }
    bool writeText(std::string_view section, std::string_view key, std::string_view value) override
    {
        values[std::string(section) + "/" + std::string(key)] = std::string(value);
        ++writes;
        return true;
    }
    std::map<std::string, std::string> values;
    int writes = 0;
};

// Folders are named without a trailing separator; every folder is writable unless read-only.
class FakeFileSystem final : public FileSystemQueries {
public:
    bool isDirectory(std::string_view path) const override { return directories.count(bare(path)) > 0; }
    bool isWritableDirectory(std::string_view path) const override
    {
        return isDirectory(path) && readOnly.count(bare(path)) == 0;
    }
    std::vector<MountPoint> mountPoints() const override { return mounts; }
    std::string userDownloadFolder() const override { return downloads; }
    bool makeDirectories(std::string_view path) const override
    {
        if (!creatable)
            return false;
        directories.insert(bare(path));
        return true;
    }
    static std::string bare(std::string_view path)
    {
        while (path.size() > 1 && path.back() == '/')
            path.remove_suffix(1);
        return std::string(path);
    }
    mutable std::set<std::string> directories;
    std::set<std::string> readOnly;
    std::vector<MountPoint> mounts;
    std::string downloads = "/home/u/Downloads";
    bool creatable = true;
};

class FakeAutostart final : public Autostart {
public:
    bool enabledSystemWide(std::string_view) const override { return systemWide; }
    bool setForUser(bool enabled, std::string_view path) override
    {
        userEntry = enabled ? std::string(path) : std::string{};
        return true;
    }
    bool systemWide = false;
    std::string userEntry;
};

} // namespace vandry::testing
