// Feeds arbitrary text to the /proc/net/route reader.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/proc_net_route.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const vandry::InterfaceIndexMap indexes{{"lo", 1}, {"eth0", 2}, {"wlan0", 3}};
    const auto rows = vandry::parseProcNetRoute(std::string_view(reinterpret_cast<const char*>(data), size), indexes);
    for (const auto& row : rows)
        if (row.interfaceIndex < 1 || row.interfaceIndex > 3)
            __builtin_trap();
    return 0;
}
