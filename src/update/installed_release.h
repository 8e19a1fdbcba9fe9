#pragma once
// The release this executable was installed as by the last upgrade: the version the feed offered
// it as and the SHA-256 of its file, kept in the profile. A release may carry an older built-in
// version than it was offered as; without the record the feed would offer it again after every
// start, and the copy would upgrade itself over and over.

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "app/profile.h"
#include "update/ed25519.h"

namespace vandry {

inline constexpr std::string_view kKeyInstalledVersion = "InstalledVersion";
inline constexpr std::string_view kKeyInstalledHash = "InstalledHash";

void recordInstalledRelease(ProfileStore& profile, std::uint32_t offeredVersion, const Sha256Digest& sha256);

// The recorded version while `executable` is still the recorded file, else 0.
std::uint32_t installedReleaseVersion(const ProfileStore& profile, const std::filesystem::path& executable);

} // namespace vandry
