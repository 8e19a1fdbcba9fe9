#include "ui/copy_commands.h"

#include <random>

#include "common/hex.h"
#include "link/share_path.h"

namespace vandry {

namespace {
HostIdentity randomIdentity()
{
    static std::random_device device;
    static std::mt19937_64 engine(device());
    HostIdentity id;
    for (auto& byte : id)
        byte = static_cast<std::uint8_t>(engine());
    return id;
}
} // namespace

CopyCommands::CopyCommands(RunningCopy& copy, MainWindowModel& window, std::function<void()> stop)
    : copy_(copy), window_(window), stop_(std::move(stop)), newIdentity_(randomIdentity)
{
}

std::optional<NeighbourSlot> CopyCommands::findNeighbour(const std::string& key) const
{
    const NeighbourTable& table = copy_.neighbours();
    if (key.size() == 32)
        if (const auto slot = const_cast<NeighbourTable&>(table).findByHexText(key))
            return slot;
    for (const NeighbourSlot slot : table.listed())
        if (slot.index != 0 && table.at(slot).host.nickname() == key)
            return slot;
    return std::nullopt;
}

DownloadOutcome CopyCommands::download(const std::string& neighbour, std::string remotePath,
                                       const std::string& localPath)
{
    DownloadOutcome outcome;
    const auto slot = findNeighbour(neighbour);
    if (!slot) {
        outcome.error = "no neighbour \"" + neighbour + "\" is online";
        return outcome;
    }
    if (remotePath.empty() || remotePath.front() != '\\')
        remotePath.insert(remotePath.begin(), '\\');
    const std::string name = wireFileName(remotePath);
    if (name.empty()) {
        outcome.error = "\"" + remotePath + "\" names a folder; folder downloads come with a later version";
        return outcome;
    }
    TaskRecord record;
    record.remotePath = remotePath;
    record.localPath = localPath.empty() ? copy_.settings().downloadRoot + name : localPath;
    const HostRecord host = copy_.neighbours().at(*slot).host;
    const std::string hostHex = hostRecordHex(host);

    const AddedTask task = window_.tasks().addTaskRow(record, newIdentity_(), hostHex, kProgressNew, 0);
    window_.tasks().setScheduled(task.row, true);
    LinkRequest request;
    request.peer.neighbour.host =
        task.hostDiffers ? *hostRecordFromHex(window_.tasks().rows()[task.row][kTaskHost]) : host;
    request.request = record;
    request.localFile = record.localPath;
    request.taskId = task.identity;
    window_.host().openLink(request);
    outcome.started = true;
    outcome.reusedRow = task.existed;
    outcome.taskIdentity = identityText(task.identity);
    return outcome;
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
