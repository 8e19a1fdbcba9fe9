#pragma once
// Log-on start through XDG autostart entries named "Varsyl.desktop". The state shown in the
// settings comes from the system-wide entry; a change writes or removes the per-user entry.

#include <filesystem>
#include <string>
#include <string_view>

namespace vandry {

inline constexpr std::string_view kAutostartEntryName = "Varsyl.desktop";

class Autostart {
public:
    virtual ~Autostart() = default;
    virtual bool enabledSystemWide(std::string_view executablePath) const = 0;
    virtual bool setForUser(bool enabled, std::string_view executablePath) = 0;
};

class XdgAutostart final : public Autostart {
public:
    XdgAutostart(std::filesystem::path systemDir, std::filesystem::path userDir)
        : systemDir_(std::move(systemDir)), userDir_(std::move(userDir))
    {
    }
    // /etc/xdg/autostart and $XDG_CONFIG_HOME/autostart (default ~/.config/autostart).
    static XdgAutostart forCurrentUser();

    // True when the system entry's Exec names this executable (compared ignoring ASCII case).
    bool enabledSystemWide(std::string_view executablePath) const override;
    bool setForUser(bool enabled, std::string_view executablePath) override;

private:
    std::filesystem::path systemDir_;
    std::filesystem::path userDir_;
};

// The Exec value of a desktop entry's [Desktop Entry] group, unquoted; empty when absent.
std::string desktopEntryExec(std::string_view entryText);

} // namespace vandry
