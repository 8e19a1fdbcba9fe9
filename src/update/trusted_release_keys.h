#pragma once
// Whose releases a copy installs: the project's release key, compiled in from
// release_key.pub, and any keys its own profile adds (section "Settings", key "UpgradeKeys":
// public keys of 64 hexadecimal digits, separated by commas or blanks). The profile's keys
// count only while no one but the copy's user can write the profile.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/ed25519.h"

namespace vandry {

inline constexpr std::string_view kKeyUpgradeKeys = "UpgradeKeys";

Ed25519PublicKey projectReleaseKey();

std::string publicKeyText(const Ed25519PublicKey& key);
// Exactly 64 hexadecimal digits, surrounding white space ignored.
std::optional<Ed25519PublicKey> parsePublicKeyText(std::string_view text);

struct TrustedKeys {
    std::vector<Ed25519PublicKey> keys;
    std::vector<std::string> ignored; // items of the profile value that are no key
};

// The project key first, then the profile's keys.
TrustedKeys trustedReleaseKeys(std::string_view profileValue);

// Whether `file` and the folder holding it belong to this process's user and nobody else may
// write them (the folder matters: the profile is replaced by renaming a new file into it).
bool onlyOwnerCanWrite(const std::filesystem::path& file);

} // namespace vandry
