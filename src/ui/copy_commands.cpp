#include "ui/copy_commands.h"

#include <filesystem>
#include <random>

#include "common/hex.h"
#include "link/share_path.h"
#include "store/listing_names.h"

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
    // A path ending in "\\" names a folder: the whole tree below it is downloaded.
    const bool folder = remotePath.back() == '\\';
    const std::string name =
        folder ? wireFileName(remotePath.substr(0, remotePath.size() - 1)) : wireFileName(remotePath);
    if (localPath.empty() && !isPlainName(name) && !(folder && remotePath == "\\")) {
        outcome.error = "\"" + name + "\" cannot be saved under that name; give a local path";
        return outcome;
    }
    TaskRecord record;
    record.directory = folder ? 1 : 0;
    record.remotePath = remotePath;
    record.localPath = localPath.empty() ? copy_.settings().downloadRoot + name : localPath;
    if (folder && !record.localPath.empty() && record.localPath.back() != '/')
        record.localPath += '/';
    return downloadTo(record, copy_.neighbours().at(*slot).host);
}

DownloadOutcome CopyCommands::downloadTo(const TaskRecord& record, const HostRecord& host)
{
    DownloadOutcome outcome;
    const std::string hostHex = hostRecordHex(host);
    const AddedTask task = window_.tasks().addTaskRow(record, newIdentity_(), hostHex, kProgressNew, 0);
    window_.tasks().setScheduled(task.row, true);
    outcome.started = true;
    outcome.reusedRow = task.existed;
    outcome.taskIdentity = identityText(task.identity);
    if (task.hostDiffers) {
        // The task came from another host: carry on with what the row knows.
        resumeTask(task.row);
        return outcome;
    }
    LinkRequest request;
    request.peer.neighbour = copy_.neighbours().snapshot(host);
    request.request = record;
    request.localFile = record.localPath;
    request.taskId = task.identity;
    window_.host().openLink(request);
    window_.tasksUpdated();
    return outcome;
}

bool CopyCommands::browseHost(const HostRecord& host, const std::string& wirePath, std::int32_t row)
{
    const auto slot = copy_.neighbours().find(host.identity, false);
    if (!slot)
        return false;
    window_.browse(copy_.neighbours().at(*slot), wirePath, row);
    return true;
}

bool CopyCommands::browseNeighbour(const std::string& neighbourKey, const std::string& wirePath, std::int32_t row)
{
    const auto slot = findNeighbour(neighbourKey);
    if (!slot)
        return false;
    window_.browse(copy_.neighbours().at(*slot), wirePath, row);
    return true;
}

std::optional<HostRecord> CopyCommands::neighbourRecord(const std::string& key) const
{
    const auto slot = findNeighbour(key);
    return slot ? std::optional(copy_.neighbours().at(*slot).host) : std::nullopt;
}

void CopyCommands::search(const std::string& text)
{
    window_.startSearch(text);
}

std::optional<std::size_t> CopyCommands::taskRow(const std::string& identity) const
{
    const auto parsed = identityFromText(identity);
    return parsed ? window_.tasks().findRow(*parsed) : std::nullopt;
}

std::optional<TaskRow> CopyCommands::contextTask(std::size_t row)
{
    if (row >= window_.tasks().rows().size())
        return std::nullopt;
    window_.scheduler().setContextRow(row);
    // A copy: the command changes the row as it goes.
    return window_.tasks().rows()[row];
}

void CopyCommands::stopTask(std::size_t row)
{
    TaskList& tasks = window_.tasks();
    const auto chosen = contextTask(row);
    if (!chosen)
        return;
    const TaskRow& task = *chosen;
    const auto identity = identityFromText(task[kTaskIdentity]);
    if (task[kTaskScheduled] == "1")
        tasks.setStateText(row, kStateCancelled);
    tasks.setScheduled(row, false);
    if (!identity)
        return;
    window_.host().stopTaskLinks(*identity, false, std::nullopt);
    if (const auto file = window_.hashes().digestForListing(task[kTaskLocalPath], false))
        window_.seeds().resetSources(sourceKey(*file, *identity));
    window_.tasksUpdated();
}

void CopyCommands::resumeTask(std::size_t row)
{
    TaskList& tasks = window_.tasks();
    const auto chosen = contextTask(row);
    if (!chosen)
        return;
    const TaskRow& task = *chosen;
    const auto identity = identityFromText(task[kTaskIdentity]);
    const auto host = hostRecordFromHex(task[kTaskHost]);
    TaskRecord record;
    record.remotePath = task[kTaskRemotePath];
    record.localPath = task[kTaskLocalPath];
    record.directory = TaskList::isDirectoryTask(task) ? 1 : 0;
    if (task[kTaskScheduled] != "1")
        tasks.setStateText(row, kStateWaiting);
    tasks.setScheduled(row, true);
    window_.scheduler().setResumeRow(row);
    window_.tasksUpdated();
    if (!identity || !host)
        return;
    if (record.directory && window_.host().streamOwnedBy(*identity) &&
        window_.scheduler().startDirectoryTask(*identity, false, false))
        return;
    tasks.setProgressText(row, "0%");
    LinkRequest request;
    request.peer.neighbour = copy_.neighbours().snapshot(*host);
    request.request = record;
    request.localFile = record.localPath;
    request.taskId = *identity;
    window_.host().openLink(request);
}

void CopyCommands::deleteTask(std::size_t row, bool withFiles)
{
    TaskList& tasks = window_.tasks();
    if (row >= tasks.rows().size())
        return;
    const TaskRow task = tasks.rows()[row];
    const auto identity = identityFromText(task[kTaskIdentity]);
    const std::string& path = task[kTaskLocalPath];
    std::optional<StreamSlot> entry;
    if (const auto file = window_.hashes().digestForListing(path, false))
        if (const auto stream = window_.host().streamWithDigest(hexEncode(file->digest)))
            entry = stream->slot;
    window_.host().stopTaskLinks(identity.value_or(HostIdentity{}), true, entry);
    if (withFiles && !TaskList::isDirectoryTask(task)) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    tasks.removeRow(row);
    if (identity && TaskList::isDirectoryTask(task))
        window_.listings().remove(*identity, false);
    window_.scheduler().setContextRow(std::nullopt);
    window_.tasksUpdated();
}

void CopyCommands::scheduleUdp(std::size_t row)
{
    if (row < window_.tasks().rows().size())
        window_.tasks().setScheduled(row, true);
}

bool CopyCommands::viewSource(std::size_t row)
{
    if (row >= window_.tasks().rows().size())
        return false;
    const auto host = hostRecordFromHex(window_.tasks().rows()[row][kTaskHost]);
    return host && browseHost(*host, "\\", -1);
}

void CopyCommands::openTaskFile(std::size_t row)
{
    if (row < window_.tasks().rows().size())
        window_.host().openWithDesktop(window_.tasks().rows()[row][kTaskLocalPath]);
}

void CopyCommands::showTaskFolder(std::size_t row)
{
    if (row >= window_.tasks().rows().size())
        return;
    // The desktop cannot select a file portably: open the folder that holds it.
    std::string path = window_.tasks().rows()[row][kTaskLocalPath];
    if (!path.empty() && path.back() != '/')
        path = path.substr(0, path.rfind('/') + 1);
    window_.host().openWithDesktop(path);
}

TaskSources CopyCommands::sources(std::size_t row)
{
    TaskSources sources;
    if (row >= window_.tasks().rows().size())
        return sources;
    const TaskRow task = window_.tasks().rows()[row];
    const auto identity = identityFromText(task[kTaskIdentity]);
    if (!identity)
        return sources;
    sources.key.source = *identity;
    if (const auto stream = window_.host().streamOwnedBy(*identity)) {
        const auto digest = hexDecode(stream->digestHex, sources.key.digest.size());
        if (!digest)
            return sources;
        std::copy(digest->begin(), digest->end(), sources.key.digest.begin());
        sources.key.sizeLow = static_cast<std::uint32_t>(stream->size);
    } else if (const auto file = window_.hashes().digestForListing(task[kTaskLocalPath], false)) {
        sources.key = sourceKey(*file, *identity);
    } else {
        return sources;
    }
    sources.known = true;
    const std::int64_t now = copy_.platform().clock.nowSeconds();
    sources.refresh = seedingRefreshText(window_.seeds(), sources.key, now);
    sources.rows = seedingRows(window_.seeds(), sources.key, now, copy_.neighbours());
    return sources;
}

TaskProperties CopyCommands::taskProperties(std::size_t row)
{
    TaskProperties properties;
    if (row >= window_.tasks().rows().size())
        return properties;
    const TaskRow task = window_.tasks().rows()[row];
    const auto identity = identityFromText(task[kTaskIdentity]);
    properties.isDirectory = TaskList::isDirectoryTask(task);
    properties.file = task[kTaskLocalPath];
    if (!identity)
        return properties;
    if (properties.isDirectory) {
        window_.listings().reconcile(*identity, task[kTaskLocalPath], task[kTaskRemotePath], window_.hashes());
        properties.folders = listedFolders(window_.listings().buffer(*identity));
    }
    const auto stream = window_.host().streamOwnedBy(*identity);
    if (stream) {
        properties.running = true;
        properties.file = stream->path;
        properties.size = stream->size;
        properties.digest = stream->digestHex;
        properties.blockCount = stream->blockCount;
        properties.held = stream->held;
        for (const ReceivingLink& link : window_.host().receivingLinks()) {
            if (link.entry != stream->slot.index)
                continue;
            properties.links.push_back({link.slot, link.peer, link.rangeStart, link.rangeEnd, link.position,
                                        window_.linkRates().rate(link.slot), wireFileName(link.remotePath), link.path});
        }
    } else if (!properties.isDirectory) {
        if (const auto file = window_.hashes().digestForListing(task[kTaskLocalPath], false)) {
            properties.digest = hexEncode(file->digest);
            properties.size = file->size;
        }
    }
    return properties;
}

void CopyCommands::closeLink(std::uint8_t slot)
{
    window_.host().closeLink(slot);
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
