#pragma once

#include <string>
#include <string_view>

namespace vandry {

// Window caption and the base of the single-instance name.
inline constexpr std::string_view kVersionText = "Vandry v0.9";
inline constexpr std::string_view kApplicationShortName = "vandry";
inline constexpr unsigned kVersionMajor = 0, kVersionMinor = 9, kVersionBuild = 0, kVersionRevision = 0;

// The version text up to its first lower-case "v", followed by "v": "Vandry v".
inline std::string instanceGuardName(std::string_view versionText = kVersionText)
{
    const auto v = versionText.find('v');
    return std::string(versionText.substr(0, v == std::string_view::npos ? versionText.size() : v)) + "v";
}

} // namespace vandry

namespace vandry {

inline constexpr std::string_view kMakerName = "Quillomax Co";
inline constexpr std::string_view kMakerPageUrl = "https://quillomax.example/vandry/";
inline constexpr std::string_view kHelpPageUrl = "https://quillomax.example/vandry/help.html";

} // namespace vandry
