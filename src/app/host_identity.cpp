#include "app/host_identity.h"

#include <algorithm>
#include <string>

#include "common/md5.h"
#include "common/version.h"

namespace vandry {

HostIdentity makeHostIdentity(ProgramVersion version, OsVersion os, std::string_view machineText)
{
    const std::uint32_t packed = ((version.major & 0xFF) << 24) | ((version.minor & 0xFF) << 16) |
                                 ((version.build & 0xFF) << 8) | (version.revision & 0xFF);
    const auto platform = static_cast<std::uint16_t>(((os.major * 16 + os.minor) << 8) + 1);
    const auto digest = md5(asBytes(std::string(machineText) + std::string(kIdentitySuffix)));

    HostIdentity id{};
    for (int i = 0; i < 4; ++i)
        id[i] = static_cast<std::uint8_t>(packed >> (8 * i));
    id[4] = static_cast<std::uint8_t>(platform);
    id[5] = static_cast<std::uint8_t>(platform >> 8);
    std::copy(digest.begin(), digest.begin() + 8, id.begin() + 8);
    return id;
}

const HostIdentity& computeHostIdentity(AppSettings& settings, const HostPlatform& host)
{
    if (isZero(settings.identityCache))
        settings.identityCache = makeHostIdentity({kVersionMajor, kVersionMinor, kVersionBuild, kVersionRevision},
                                                  host.osVersion(), host.machineText());
    return settings.identityCache;
}

} // namespace vandry
