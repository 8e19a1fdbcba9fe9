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

class FakeFileSystem final : public FileSystemQueries {
public:
    bool isDirectory(std::string_view path) const override { return directories.count(std::string(path)) > 0; }
    std::vector<MountPoint> mountPoints() const override { return mounts; }
    std::set<std::string> directories;
    std::vector<MountPoint> mounts;
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
