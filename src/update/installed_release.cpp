#include "update/installed_release.h"

#include <charconv>
#include <string>

#include "common/hex.h"
#include "update/release_check.h"

namespace vandry {

void recordInstalledRelease(ProfileStore& profile, std::uint32_t offeredVersion, const Sha256Digest& sha256)
{
    profile.writeText(kProfileSection, kKeyInstalledVersion, std::to_string(offeredVersion));
    profile.writeText(kProfileSection, kKeyInstalledHash, hexEncode(sha256));
}

std::uint32_t installedReleaseVersion(const ProfileStore& profile, const std::filesystem::path& executable)
{
    const auto versionText = profile.readText(kProfileSection, kKeyInstalledVersion);
    const auto hashText = profile.readText(kProfileSection, kKeyInstalledHash);
    if (!versionText || !hashText || hashText->size() != 2 * sizeof(Sha256Digest))
        return 0;
    std::uint32_t version = 0;
    const char* end = versionText->data() + versionText->size();
    if (const auto [at, error] = std::from_chars(versionText->data(), end, version); error != std::errc{} || at != end)
        return 0;
    const auto recorded = hexDecode(*hashText, sizeof(Sha256Digest));
    const auto actual = hashFile(executable);
    if (!recorded || !actual || !std::equal(recorded->begin(), recorded->end(), actual->first.begin()))
        return 0;
    return version;
}

} // namespace vandry
