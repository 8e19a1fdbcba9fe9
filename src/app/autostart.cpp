#include "app/autostart.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/text.h"

namespace vandry {

namespace {
std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string quoteExec(std::string_view path)
{
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\' || c == '`' || c == '$')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}
} // namespace

std::string desktopEntryExec(std::string_view text)
{
    bool inMainGroup = false;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup || line.rfind("Exec=", 0) != 0)
            continue;
        std::string value = line.substr(5);
        if (value.size() >= 2 && value.front() == '"') {
            std::string unquoted;
            for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size())
                    ++i;
                unquoted += value[i];
            }
            return unquoted;
        }
        return value;
    }
    return {};
}

XdgAutostart XdgAutostart::forCurrentUser()
{
    std::filesystem::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        config = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = std::filesystem::path(home) / ".config";
    return XdgAutostart("/etc/xdg/autostart", config / "autostart");
}

bool XdgAutostart::enabledSystemWide(std::string_view executablePath) const
{
    const auto exec = desktopEntryExec(readFile(systemDir_ / kAutostartEntryName));
    return !exec.empty() && equalsIgnoreAsciiCase(exec, executablePath);
}

bool XdgAutostart::setForUser(bool enabled, std::string_view executablePath)
{
    std::error_code ec;
    const auto entry = userDir_ / kAutostartEntryName;
    if (!enabled) {
        std::filesystem::remove(entry, ec);
        return !ec;
    }
    std::filesystem::create_directories(userDir_, ec);
    const auto temporary = userDir_ / (std::string(kAutostartEntryName) + ".new");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "[Desktop Entry]\nType=Application\nName=Vandry\nExec=" << quoteExec(executablePath)
            << "\nX-GNOME-Autostart-enabled=true\n";
        if (!out.flush())
            return false;
    }
    std::filesystem::rename(temporary, entry, ec);
    return !ec;
}

} // namespace vandry
