#pragma once
// The copy's persistent profile: section "Settings" with the keys below. Reads of a missing
// or unreadable key give the default; failed writes leave the profile as it was.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/app_settings.h"

namespace vandry {

inline constexpr std::string_view kProfileSection = "Settings";
inline constexpr std::string_view kKeyNickname = "NikeName";
inline constexpr std::string_view kKeyShareRoot = "UpRoot";
inline constexpr std::string_view kKeyDownloadRoot = "DnRoot";
inline constexpr std::string_view kKeyLogging = "Logging";
inline constexpr std::string_view kKeyUploadLimit = "UpLimit";
inline constexpr std::string_view kKeyLastUdpPort = "LastUdpPort";
// The window's size, place and column widths, in a section of their own.
inline constexpr std::string_view kWindowSection = "Window";

class ProfileStore {
public:
    virtual ~ProfileStore() = default;
    virtual std::optional<std::string> readText(std::string_view section, std::string_view key) const = 0;
    virtual bool writeText(std::string_view section, std::string_view key, std::string_view value) = 0;
};

// Typed access to the "Settings" section.
class Profile {
public:
    explicit Profile(ProfileStore& store) : store_(store) {}

    std::string nickname() const { return read(kKeyNickname); }
    // A root longer than the record allows is refused (read as empty).
    std::string shareRoot() const { return readRoot(kKeyShareRoot); }
    std::string downloadRoot() const { return readRoot(kKeyDownloadRoot); }
    bool logging() const;
    // Bytes per second; -1 (unlimited) when unset or unreadable.
    int uploadLimit() const;
    // The UDP port of the last run; 0 when unset or unreadable.
    std::uint16_t lastUdpPort() const;

    void setNickname(std::string_view value) { store_.writeText(kProfileSection, kKeyNickname, value); }
    void setShareRoot(std::string_view value) { store_.writeText(kProfileSection, kKeyShareRoot, value); }
    void setDownloadRoot(std::string_view value) { store_.writeText(kProfileSection, kKeyDownloadRoot, value); }
    void setLogging(bool on);
    void setUploadLimit(int bytesPerSecond);
    void setLastUdpPort(std::uint16_t port)
    {
        store_.writeText(kProfileSection, kKeyLastUdpPort, std::to_string(port));
    }
    std::string windowState(std::string_view key) const
    {
        return store_.readText(kWindowSection, key).value_or(std::string{});
    }
    void setWindowState(std::string_view key, std::string_view value) { store_.writeText(kWindowSection, key, value); }

private:
    std::string read(std::string_view key) const;
    std::string readRoot(std::string_view key) const;
    ProfileStore& store_;
};

// Reads the logging flag into the settings.
void loadLogging(const Profile& profile, AppSettings& settings);
// Flips the logging flag and stores it ("1" or "0").
void toggleLogging(Profile& profile, AppSettings& settings);

} // namespace vandry
