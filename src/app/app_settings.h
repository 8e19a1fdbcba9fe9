#pragma once
// AppSettings: the configuration and host state of one running copy. The main thread owns it;
// the server list is the one part that the feed and probe workers share.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/identity.h"
#include "common/ipv4.h"

namespace vandry {

inline constexpr std::size_t kServerCount = 8;
inline constexpr std::size_t kMaxRootLength = 259;

// The rendezvous servers. The feed worker writes them, the probe worker reads them and the
// best-server index, the main thread reads everything: one mutex guards the texts, the index
// and the probe state are atomic.
class ServerList {
public:
    struct Entry {
        std::string address; // dotted text, empty = unused
        std::uint16_t port = 0;
        bool operator==(const Entry&) const = default;
    };

    Entry entry(std::size_t index) const;
    std::array<Entry, kServerCount> entries() const;
    void setEntry(std::size_t index, std::string address, std::uint16_t port);
    void clearAddresses();

    // -1 while no server answered.
    int best() const { return best_.load(); }
    // Makes `index` the best server when none is known or it is a better (smaller) index.
    bool offerBest(int index);

    // 0 idle, 2 probing, 3 a server list arrived while probing; outside probing it counts lists.
    std::atomic<std::uint8_t> probeState{0};

private:
    mutable std::mutex mutex_;
    std::array<std::string, kServerCount> addresses_{};
    std::array<std::uint16_t, kServerCount> ports_{3333, 3333, 1552, 0, 0, 0, 0, 0};
    std::atomic<int> best_{-1};
};

// The two local adapters in use: entry 0 for the primary address, entry 1 for the secondary.
struct InterfaceRoute {
    Ipv4 localAddress = 0;
    Ipv4 configuredGateway = 0;
    Ipv4 nextHop = 0;
    std::uint32_t interfaceIndex = 0;
    bool operator==(const InterfaceRoute&) const = default;
};

struct IpStatistics {
    std::uint32_t interfaceCount = 0;
    std::uint32_t routeCount = 0;
    bool operator==(const IpStatistics&) const = default;
};

struct AppSettings {
    std::string downloadRoot; // ends in the path separator once saved by the settings dialog
    std::string shareRoot;
    ServerList servers;
    int uploadLimit = -1; // bytes per second, -1 = unlimited
    std::atomic<bool> logging{false};
    HostIdentity identityCache{}; // zero until computed
    IpStatistics statistics;
    std::array<InterfaceRoute, 2> interfaceRoutes{};
    // How the home router is asked to forward the copy's ports: auto, upnp, natpmp or off.
    std::string portMapping = "auto";
};

} // namespace vandry
