#pragma once
// HostIdentity: 16 bytes that name this copy on this machine and stay the same across restarts.
//
//   0-3   u32 le  program version, major<<24 | minor<<16 | build<<8 | revision (8 bits each)
//   4-5   u16 le  ((OS major * 16 + OS minor) << 8) + 1
//   6-7   u16     0
//   8-15          first 8 bytes of MD5(machine text + kIdentitySuffix)

#include <cstdint>
#include <string_view>

#include "app/app_settings.h"
#include "app/network_platform.h"
#include "common/identity.h"

namespace vandry {

struct ProgramVersion {
    unsigned major = 0, minor = 0, build = 0, revision = 0;
};

// A blank and one two-byte character ("é" in UTF-8), hashed after the machine text. Changing it
// changes the identity of every copy.
inline constexpr std::string_view kIdentitySuffix = " \xC3\xA9";

HostIdentity makeHostIdentity(ProgramVersion version, OsVersion os, std::string_view machineText);

// The identity of this copy: computed on first use and kept in settings.identityCache.
const HostIdentity& computeHostIdentity(AppSettings& settings, const HostPlatform& host);

} // namespace vandry
