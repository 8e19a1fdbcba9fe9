#include "qt/control_protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <memory>

#include "common/format_size.h"
#include "common/text.h"
#include "ui/browse_reply.h"
#include "ui/file_list.h"

namespace vandry {

namespace {
QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

QJsonObject failure(const QString& error)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
}

QJsonObject statusAnswer(const CopyStatus& s)
{
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("identity"), qs(s.identity)},
            {QStringLiteral("nickname"), qs(s.nickname)},
            {QStringLiteral("primary_lan"), qs(ipv4ToText(s.primaryLan))},
            {QStringLiteral("secondary_lan"), qs(ipv4ToText(s.secondaryLan))},
            {QStringLiteral("udp_port"), s.udpPort},
            {QStringLiteral("tcp_port"), s.tcpPort},
            {QStringLiteral("best_server"), s.bestServer.empty() ? QStringLiteral("none") : qs(s.bestServer)},
            {QStringLiteral("mapped"), qs(ipv4ToText(s.mapped.address) + ":" + std::to_string(s.mapped.port))},
            {QStringLiteral("share"), qs(s.shareRoot)},
            {QStringLiteral("download"), qs(s.downloadRoot)},
            {QStringLiteral("logging"), s.logging}};
}

QJsonObject neighboursAnswer(const std::vector<NeighbourRow>& rows)
{
    QJsonArray list;
    for (const NeighbourRow& row : rows)
        list.append(QJsonObject{{QStringLiteral("identity"), qs(row.identityHex)},
                                {QStringLiteral("nickname"), qs(row.nickname)}});
    return {{QStringLiteral("ok"), true}, {QStringLiteral("neighbours"), list}};
}

QJsonObject tasksAnswer(const std::vector<TaskRow>& rows)
{
    QJsonArray list;
    for (const TaskRow& row : rows)
        list.append(QJsonObject{{QStringLiteral("identity"), qs(row[kTaskIdentity])},
                                {QStringLiteral("state"), qs(row[kTaskState])},
                                {QStringLiteral("progress"), qs(row[kTaskProgress])},
                                {QStringLiteral("rate"), qs(row[kTaskRate])},
                                {QStringLiteral("local"), qs(row[kTaskLocalPath])},
                                {QStringLiteral("remote"), qs(row[kTaskRemotePath])}});
    return {{QStringLiteral("ok"), true}, {QStringLiteral("tasks"), list}};
}

QJsonObject downloadAnswer(CopyCommands& commands, const QJsonArray& args)
{
    if (args.size() < 2 || args.size() > 3)
        return failure(QStringLiteral("usage: download NEIGHBOUR REMOTE_PATH [LOCAL_PATH]"));
    const DownloadOutcome outcome =
        commands.download(args[0].toString().toStdString(), args[1].toString().toStdString(),
                          args.size() == 3 ? args[2].toString().toStdString() : std::string());
    if (!outcome.started)
        return failure(qs(outcome.error));
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("task"), qs(outcome.taskIdentity)},
            {QStringLiteral("message"), QStringLiteral("download started: task %1").arg(qs(outcome.taskIdentity))}};
}

// How long vandryctl waits for a neighbour's listing, and for search answers to come in.
constexpr int kBrowseWaitMs = 5000;
constexpr int kSearchWaitMs = 3000;

QJsonObject ok(const QString& message)
{
    return {{QStringLiteral("ok"), true}, {QStringLiteral("message"), message}};
}

std::optional<std::size_t> taskArgument(CopyCommands& commands, const QJsonArray& args, QJsonObject& error)
{
    if (args.isEmpty()) {
        error = failure(QStringLiteral("name the task by its identity (vandryctl tasks lists them)"));
        return std::nullopt;
    }
    const auto row = commands.taskRow(args[0].toString().toStdString());
    if (!row)
        error = failure(QStringLiteral("no task \"%1\"").arg(args[0].toString()));
    return row;
}

QJsonObject taskCommandAnswer(CopyCommands& commands, const QString& command, const QJsonArray& args)
{
    QJsonObject error;
    const auto row = taskArgument(commands, args, error);
    if (!row)
        return error;
    const QString task = args[0].toString();
    if (command == QLatin1String("stop")) {
        commands.stopTask(*row);
        return ok(QStringLiteral("stopped %1").arg(task));
    }
    if (command == QLatin1String("resume")) {
        commands.resumeTask(*row);
        return ok(QStringLiteral("resumed %1").arg(task));
    }
    const bool withFiles = args.size() > 1 && args[1].toString() == QLatin1String("--with-files");
    commands.deleteTask(*row, withFiles);
    return ok(withFiles ? QStringLiteral("deleted %1 and its file").arg(task) : QStringLiteral("deleted %1").arg(task));
}

QJsonObject sourcesAnswer(CopyCommands& commands, const QJsonArray& args)
{
    QJsonObject error;
    const auto row = taskArgument(commands, args, error);
    if (!row)
        return error;
    const TaskSources sources = commands.sources(*row);
    if (!sources.known)
        return failure(QStringLiteral("the task's file is not known yet, so it has no sources"));
    QJsonArray list;
    for (const SeedingRow& seed : sources.rows)
        list.append(QJsonObject{{QStringLiteral("guid"), qs(seed.guid)},
                                {QStringLiteral("host"), qs(seed.host)},
                                {QStringLiteral("code"), qs(seed.code)},
                                {QStringLiteral("time"), qs(seed.time)},
                                {QStringLiteral("invoke"), qs(seed.invoke)}});
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("size"), qs(seedingSizeText(sources.key))},
            {QStringLiteral("digest"), qs(seedingDigestText(sources.key))},
            {QStringLiteral("refresh"), qs(sources.refresh)},
            {QStringLiteral("sources"), list}};
}

QJsonObject propertiesAnswer(CopyCommands& commands, const QJsonArray& args)
{
    QJsonObject error;
    const auto row = taskArgument(commands, args, error);
    if (!row)
        return error;
    const TaskProperties properties = commands.taskProperties(*row);
    QJsonArray held;
    for (const BlockRange& range : properties.held)
        held.append(QJsonArray{static_cast<qint64>(range.start), static_cast<qint64>(range.end)});
    QJsonArray links;
    for (const PropertyLink& link : properties.links)
        links.append(QJsonObject{{QStringLiteral("slot"), link.slot},
                                 {QStringLiteral("source"), qs(link.source)},
                                 {QStringLiteral("range"),
                                  QJsonArray{static_cast<qint64>(link.rangeStart), static_cast<qint64>(link.rangeEnd)}},
                                 {QStringLiteral("position"), static_cast<qint64>(link.position)},
                                 {QStringLiteral("rate"), static_cast<qint64>(link.rateK)},
                                 {QStringLiteral("file"), qs(validUtf8(link.file))},
                                 {QStringLiteral("path"), qs(link.path)}});
    QJsonArray folders;
    for (const ListedFolder& folder : properties.folders) {
        QJsonArray files;
        for (const ListedFolderFile& file : folder.files)
            files.append(QJsonObject{{QStringLiteral("name"), qs(file.name)},
                                     {QStringLiteral("size"), static_cast<qint64>(file.size)},
                                     {QStringLiteral("state"), qs(std::string(folderFileStateText(file.state)))}});
        folders.append(QJsonObject{{QStringLiteral("folder"), qs(folder.folder)}, {QStringLiteral("files"), files}});
    }
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("file"), qs(properties.file)},
            {QStringLiteral("size"), static_cast<qint64>(properties.size)},
            {QStringLiteral("digest"), qs(properties.digest)},
            {QStringLiteral("blocks"), static_cast<qint64>(properties.blockCount)},
            {QStringLiteral("held"), held},
            {QStringLiteral("links"), links},
            {QStringLiteral("folders"), folders}};
}

QJsonObject listingAnswer(ByteSpan payload)
{
    const auto reply = parseBrowseReply(payload);
    if (!reply)
        return failure(QStringLiteral("the neighbour's listing was unreadable"));
    QJsonArray entries;
    for (const BrowseEntry& entry : reply->entries)
        entries.append(QJsonObject{{QStringLiteral("name"), qs(validUtf8(entry.name))},
                                   {QStringLiteral("folder"), entry.directory},
                                   {QStringLiteral("size"), static_cast<qint64>(entry.size)}});
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("host"), qs(validUtf8(reply->host.nickname()))},
            {QStringLiteral("path"), qs(validUtf8(reply->path))},
            {QStringLiteral("entries"), entries}};
}

// One answering neighbour's matches: its matched folders and the files the answer lists in them.
QJsonObject searchHostAnswer(const FileItem& root)
{
    QJsonArray matches;
    for (const auto& folder : root.children) {
        // The share itself (an empty path) holds matches but is not one.
        if (!folder->path.empty())
            matches.append(
                QJsonObject{{QStringLiteral("path"), qs(folder->path + "\\")}, {QStringLiteral("folder"), true}});
        for (const auto& file : folder->children)
            if (file->icon == FileIcon::File)
                matches.append(QJsonObject{{QStringLiteral("path"), qs(folder->path + "\\" + file->name)},
                                           {QStringLiteral("folder"), false},
                                           {QStringLiteral("size"), qs(file->size)}});
    }
    return {{QStringLiteral("host"), qs(root.name)}, {QStringLiteral("matches"), matches}};
}

void browseAsync(CopyCommands& commands, const QJsonArray& args, ControlReply reply)
{
    if (args.isEmpty() || args.size() > 2) {
        reply(QJsonDocument(failure(QStringLiteral("usage: browse NEIGHBOUR [PATH]"))).toJson(QJsonDocument::Compact));
        return;
    }
    const std::string neighbour = args[0].toString().toStdString();
    std::string path = args.size() == 2 ? args[1].toString().toStdString() : std::string("\\");
    if (path.empty() || path.front() != '\\')
        path.insert(path.begin(), '\\');
    struct Wait {
        ControlReply reply;
        std::int32_t ticket = 0;
        bool done = false;
    };
    auto wait = std::make_shared<Wait>();
    wait->reply = std::move(reply);
    MainWindowModel& window = commands.window();
    auto finish = [wait, &window](const QJsonObject& answer) {
        if (std::exchange(wait->done, true))
            return;
        window.endWatch(wait->ticket);
        wait->reply(QJsonDocument(answer).toJson(QJsonDocument::Compact));
    };
    const auto host = commands.neighbourRecord(neighbour);
    if (!host) {
        finish(failure(QStringLiteral("no neighbour \"%1\" is online").arg(qs(neighbour))));
        return;
    }
    wait->ticket =
        window.watchListing(host->identity, path, [finish](ByteSpan payload) { finish(listingAnswer(payload)); });
    commands.browseHost(*host, path, -1);
    QTimer::singleShot(kBrowseWaitMs, [finish, neighbour] {
        finish(
            failure(QStringLiteral("no answer from \"%1\" within %2 s").arg(qs(neighbour)).arg(kBrowseWaitMs / 1000)));
    });
}

void searchAsync(CopyCommands& commands, const QJsonArray& args, ControlReply reply)
{
    if (args.size() != 1 || args[0].toString().isEmpty()) {
        reply(QJsonDocument(failure(QStringLiteral("usage: search TEXT"))).toJson(QJsonDocument::Compact));
        return;
    }
    struct Collect {
        ControlReply reply;
        std::int32_t ticket = 0;
        QJsonArray hosts;
    };
    auto collect = std::make_shared<Collect>();
    collect->reply = std::move(reply);
    MainWindowModel& window = commands.window();
    collect->ticket = window.watchSearch([collect](ByteSpan payload) {
        FileList scratch;
        if (scratch.showSearchReply(payload) && !scratch.roots().empty())
            collect->hosts.append(searchHostAnswer(*scratch.roots().front()));
    });
    commands.search(args[0].toString().toStdString());
    QTimer::singleShot(kSearchWaitMs, [collect, &window] {
        window.endWatch(collect->ticket);
        const QJsonObject answer{{QStringLiteral("ok"), true}, {QStringLiteral("hosts"), collect->hosts}};
        collect->reply(QJsonDocument(answer).toJson(QJsonDocument::Compact));
    });
}

QJsonObject dispatch(CopyCommands& commands, const QString& command, const QJsonArray& args)
{
    if (command == QLatin1String("stop") || command == QLatin1String("resume") || command == QLatin1String("delete"))
        return taskCommandAnswer(commands, command, args);
    if (command == QLatin1String("sources"))
        return sourcesAnswer(commands, args);
    if (command == QLatin1String("properties"))
        return propertiesAnswer(commands, args);
    if (command == QLatin1String("status"))
        return statusAnswer(commands.status());
    if (command == QLatin1String("neighbours"))
        return neighboursAnswer(commands.neighbours());
    if (command == QLatin1String("announce")) {
        if (!commands.announce())
            return failure(QStringLiteral("no rendezvous server is known yet"));
        return {{QStringLiteral("ok"), true}, {QStringLiteral("message"), QStringLiteral("announced")}};
    }
    if (command == QLatin1String("tasks"))
        return tasksAnswer(commands.tasks());
    if (command == QLatin1String("download"))
        return downloadAnswer(commands, args);
    if (command == QLatin1String("quit")) {
        commands.quit();
        return {{QStringLiteral("ok"), true}, {QStringLiteral("message"), QStringLiteral("stopping")}};
    }
    return failure(QStringLiteral("unknown command \"%1\"").arg(command));
}
} // namespace

void handleControlRequest(CopyCommands& commands, const QByteArray& line, ControlReply reply)
{
    const QJsonDocument request = QJsonDocument::fromJson(line);
    const QString command = request.object().value(QStringLiteral("cmd")).toString();
    const QJsonArray args = request.object().value(QStringLiteral("args")).toArray();
    if (command == QLatin1String("browse"))
        browseAsync(commands, args, std::move(reply));
    else if (command == QLatin1String("search"))
        searchAsync(commands, args, std::move(reply));
    else
        reply(answerControlRequest(commands, line));
}

QByteArray answerControlRequest(CopyCommands& commands, const QByteArray& line)
{
    QJsonParseError error;
    const QJsonDocument request = QJsonDocument::fromJson(line, &error);
    QJsonObject answer;
    if (!request.isObject())
        answer = failure(QStringLiteral("not a JSON object: ") + error.errorString());
    else
        answer = dispatch(commands, request.object().value(QStringLiteral("cmd")).toString(),
                          request.object().value(QStringLiteral("args")).toArray());
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

} // namespace vandry
