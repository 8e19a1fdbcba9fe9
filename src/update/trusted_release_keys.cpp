#include "update/trusted_release_keys.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "common/hex.h"

namespace vandry {

namespace {
bool isSeparator(char c)
{
    return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool ownedAndNotWritableByOthers(const std::filesystem::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
} // namespace

Ed25519PublicKey projectReleaseKey()
{
    // A build without a valid key file must not start: it could never trust a release.
    const auto key = parsePublicKeyText(VANDRY_RELEASE_KEY);
    if (!key)
        std::abort();
    return *key;
}

std::string publicKeyText(const Ed25519PublicKey& key)
{
    return hexEncode(key);
}

std::optional<Ed25519PublicKey> parsePublicKeyText(std::string_view text)
{
    while (!text.empty() && isSeparator(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSeparator(text.back()))
        text.remove_suffix(1);
    Ed25519PublicKey key{};
    if (text.size() != key.size() * 2)
        return std::nullopt;
    const auto bytes = hexDecode(text, key.size());
    if (!bytes)
        return std::nullopt;
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

TrustedKeys trustedReleaseKeys(std::string_view profileValue)
{
    TrustedKeys trusted;
    trusted.keys.push_back(projectReleaseKey());
    while (!profileValue.empty()) {
        std::size_t end = 0;
        while (end < profileValue.size() && !isSeparator(profileValue[end]))
            ++end;
        if (end > 0) {
            const auto item = profileValue.substr(0, end);
            if (const auto key = parsePublicKeyText(item))
                trusted.keys.push_back(*key);
            else
                trusted.ignored.emplace_back(item);
        }
        profileValue.remove_prefix(end < profileValue.size() ? end + 1 : end);
    }
    return trusted;
}

bool onlyOwnerCanWrite(const std::filesystem::path& file)
{
    return ownedAndNotWritableByOthers(file) && ownedAndNotWritableByOthers(file.parent_path());
}

} // namespace vandry
