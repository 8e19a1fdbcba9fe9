#include "qt/control_protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

QJsonObject dispatch(CopyCommands& commands, const QString& command, const QJsonArray& args)
{
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
