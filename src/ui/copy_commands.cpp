#include "ui/copy_commands.h"

namespace vandry {

CopyCommands::CopyCommands(RunningCopy& copy, MainWindowModel& window, std::function<void()> stop)
    : copy_(copy), window_(window), stop_(std::move(stop))
{
}

CopyStatus CopyCommands::status() const
{
    const HostRecord& local = copy_.localRecord();
    const AppSettings& settings = copy_.settings();
    CopyStatus status;
    status.identity = identityText(local.identity);
    status.nickname = local.nickname();
    status.primaryLan = local.lanPrimary;
    status.secondaryLan = local.lanSecondary;
    status.udpPort = local.portUdp;
    status.tcpPort = local.portTcp;
    if (const int best = settings.servers.best(); best >= 0) {
        const ServerList::Entry entry = settings.servers.entry(static_cast<std::size_t>(best));
        status.bestServer = entry.address + ":" + std::to_string(entry.port);
    }
    status.mapped = {local.mapAddr, local.mapPort};
    status.shareRoot = settings.shareRoot;
    status.downloadRoot = settings.downloadRoot;
    status.logging = settings.logging;
    return status;
}

bool CopyCommands::announce()
{
    if (copy_.settings().servers.best() < 0)
        return false;
    window_.announceNow();
    return true;
}

} // namespace vandry
