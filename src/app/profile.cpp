#include "app/profile.h"

#include <charconv>
#include <cstdlib>

namespace vandry {

std::string Profile::read(std::string_view key) const
{
    return store_.readText(kProfileSection, key).value_or(std::string{});
}

std::string Profile::readRoot(std::string_view key) const
{
    auto value = read(key);
    return value.size() > kMaxRootLength ? std::string{} : value;
}

bool Profile::logging() const
{
    // atoi semantics: leading digits count, anything unreadable is 0.
    return std::atoi(read(kKeyLogging).c_str()) != 0;
}

int Profile::uploadLimit() const
{
    const std::string text = read(kKeyUploadLimit);
    int limit = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), limit);
    return error == std::errc() && end == text.data() + text.size() && limit > 0 ? limit : -1;
}

std::uint16_t Profile::lastUdpPort() const
{
    const std::string text = read(kKeyLastUdpPort);
    std::uint16_t port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc() && end == text.data() + text.size() ? port : 0;
}

void Profile::setUploadLimit(int bytesPerSecond)
{
    store_.writeText(kProfileSection, kKeyUploadLimit, std::to_string(bytesPerSecond > 0 ? bytesPerSecond : -1));
}

void Profile::setLogging(bool on)
{
    store_.writeText(kProfileSection, kKeyLogging, on ? "1" : "0");
}

void loadLogging(const Profile& profile, AppSettings& settings)
{
    settings.logging = profile.logging();
}

void toggleLogging(Profile& profile, AppSettings& settings)
{
    settings.logging = !settings.logging;
    profile.setLogging(settings.logging);
}

} // namespace vandry
