#pragma once
// The network and host facts of a Linux machine:
//   route table   /proc/net/route, in the kernel's order
//   adapters      every interface but loopback, in index order; the first IPv4 address of an
//                 interface that is up and running, the next hop of its first default route
//   statistics    the number of interfaces (loopback included) and of route rows
//   machine text  /etc/machine-id, else /var/lib/dbus/machine-id, else the host name; then the
//                 user and the copy's home, so that copies of different users or homes on one
//                 machine never share an identity
//   OS version    the first two numbers of the kernel release

#include <string>
#include <string_view>

#include "app/network_platform.h"

namespace vandry {

class LinuxNetworkPlatform final : public NetworkPlatform {
public:
    std::vector<RouteRow> routeTable() const override;
    std::optional<std::vector<Adapter>> adapters() const override;
    std::optional<IpStatistics> ipStatistics() const override;
};

class LinuxHostPlatform final : public HostPlatform {
public:
    // `copyKey` tells this copy apart from other copies on the machine (its home).
    explicit LinuxHostPlatform(std::string copyKey = {}) : copyKey_(std::move(copyKey)) {}
    std::string machineText() const override;
    OsVersion osVersion() const override;
    std::string hostName() const override;

private:
    std::string machineOnlyText() const;
    std::string copyKey_;
};

// "6.1.0-13-amd64" gives 6.1; a release that does not start with two numbers gives 0.0.
OsVersion parseKernelRelease(std::string_view release);

// The identifier in a machine-id file without surrounding blanks and line ends, and nothing
// after a zero byte.
std::string machineIdText(std::string_view fileContents);

} // namespace vandry
