#include "qt/linux_platform.h"

#include <charconv>
#include <fstream>
#include <map>
#include <memory>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "app/proc_net_route.h"

namespace vandry {

namespace {

constexpr std::size_t kMaxRouteFile = 1024 * 1024;
constexpr std::size_t kMaxMachineIdFile = 256;

// The file's contents, or nothing when it cannot be read or is longer than `maxBytes`, since a
// cut text would end in half a line.
std::optional<std::string> readSmallFile(const char* path, std::size_t maxBytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string contents(maxBytes + 1, '\0');
    in.read(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (in.bad() || static_cast<std::size_t>(in.gcount()) > maxBytes)
        return std::nullopt;
    contents.resize(static_cast<std::size_t>(in.gcount()));
    return contents;
}

struct InterfaceState {
    unsigned flags = 0;
    Ipv4 firstAddress = 0;
};

// Every interface the system knows, loopback and down ones included.
std::optional<InterfaceIndexMap> interfaceIndexes()
{
    std::unique_ptr<struct if_nameindex, decltype(&if_freenameindex)> list(::if_nameindex(), &if_freenameindex);
    if (!list)
        return std::nullopt;
    InterfaceIndexMap indexes;
    for (auto* entry = list.get(); entry->if_index != 0 && entry->if_name; ++entry)
        indexes.emplace(entry->if_name, entry->if_index);
    return indexes;
}

std::optional<std::map<std::string, InterfaceState>> interfaceStates()
{
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0)
        return std::nullopt;
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(raw, &freeifaddrs);
    std::map<std::string, InterfaceState> states;
    for (auto* entry = list.get(); entry; entry = entry->ifa_next) {
        if (!entry->ifa_name)
            continue;
        auto& state = states[entry->ifa_name];
        state.flags = entry->ifa_flags;
        if (state.firstAddress == 0 && entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET)
            state.firstAddress = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
    }
    return states;
}

std::optional<std::vector<RouteRow>> readRouteTable(const InterfaceIndexMap& indexes)
{
    const auto text = readSmallFile("/proc/net/route", kMaxRouteFile);
    if (!text)
        return std::nullopt;
    return parseProcNetRoute(*text, indexes);
}

} // namespace

std::vector<RouteRow> LinuxNetworkPlatform::routeTable() const
{
    const auto indexes = interfaceIndexes();
    if (!indexes)
        return {};
    return readRouteTable(*indexes).value_or(std::vector<RouteRow>{});
}

std::optional<std::vector<Adapter>> LinuxNetworkPlatform::adapters() const
{
    const auto indexes = interfaceIndexes();
    const auto states = interfaceStates();
    if (!indexes || !states)
        return std::nullopt;
    const auto routes = readRouteTable(*indexes).value_or(std::vector<RouteRow>{});

    std::map<std::uint32_t, Adapter> byIndex;
    for (const auto& [name, index] : *indexes) {
        InterfaceState state;
        if (const auto found = states->find(name); found != states->end())
            state = found->second;
        if (state.flags & IFF_LOOPBACK)
            continue;
        // A down or unplugged interface keeps its address on Linux but cannot be reached there.
        const bool usable = (state.flags & IFF_UP) && (state.flags & IFF_RUNNING);
        byIndex[index] = Adapter{index, name, usable ? state.firstAddress : 0, defaultGatewayOf(routes, index)};
    }
    std::vector<Adapter> adapters;
    for (auto& [index, adapter] : byIndex)
        adapters.push_back(std::move(adapter));
    return adapters;
}

std::optional<IpStatistics> LinuxNetworkPlatform::ipStatistics() const
{
    const auto indexes = interfaceIndexes();
    if (!indexes)
        return std::nullopt;
    const auto routes = readRouteTable(*indexes);
    if (!routes)
        return std::nullopt;
    return IpStatistics{static_cast<std::uint32_t>(indexes->size()), static_cast<std::uint32_t>(routes->size())};
}

std::string LinuxHostPlatform::machineText() const
{
    return machineOnlyText() + ':' + std::to_string(::getuid()) + ':' + copyKey_;
}

std::string LinuxHostPlatform::machineOnlyText() const
{
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        if (const auto contents = readSmallFile(path, kMaxMachineIdFile)) {
            auto text = machineIdText(*contents);
            if (!text.empty())
                return text;
        }
    }
    return hostName();
}

OsVersion LinuxHostPlatform::osVersion() const
{
    utsname names{};
    if (uname(&names) != 0)
        return {};
    return parseKernelRelease(names.release);
}

std::string LinuxHostPlatform::hostName() const
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

OsVersion parseKernelRelease(std::string_view release)
{
    const char* const end = release.data() + release.size();
    unsigned major = 0, minor = 0;
    const auto first = std::from_chars(release.data(), end, major);
    if (first.ec != std::errc{} || first.ptr == end || *first.ptr != '.')
        return {};
    const auto second = std::from_chars(first.ptr + 1, end, minor);
    if (second.ec != std::errc{})
        return {};
    return {major, minor};
}

std::string machineIdText(std::string_view fileContents)
{
    fileContents = fileContents.substr(0, fileContents.find('\0'));
    const auto start = fileContents.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos)
        return {};
    const auto end = fileContents.find_last_not_of(" \t\r\n");
    return std::string(fileContents.substr(start, end - start + 1));
}

} // namespace vandry
