#include "qt/control_client.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <cstdio>

namespace vandry {

namespace {
constexpr int kAnswerTimeoutMs = 10000;

QString renderStatus(const QJsonObject& a)
{
    QStringList lines;
    for (const char* key : {"identity", "nickname", "primary_lan", "secondary_lan", "udp_port", "tcp_port",
                            "best_server", "mapped", "share", "download", "logging"})
        lines << QStringLiteral("%1: %2").arg(QLatin1String(key), a.value(QLatin1String(key)).toVariant().toString());
    return lines.join(QLatin1Char('\n'));
}

QString renderNeighbours(const QJsonObject& a)
{
    QStringList lines;
    for (const QJsonValue& row : a.value(QStringLiteral("neighbours")).toArray())
        lines << row[QStringLiteral("identity")].toString() + QLatin1Char(' ') +
                     row[QStringLiteral("nickname")].toString();
    return lines.join(QLatin1Char('\n'));
}
// One line per task: identity, state, progress, rate, local path, remote path.
QString renderTasks(const QJsonObject& a)
{
    QStringList lines;
    for (const QJsonValue& row : a.value(QStringLiteral("tasks")).toArray()) {
        QStringList fields;
        for (const char* key : {"identity", "state", "progress", "rate", "local", "remote"}) {
            const QString value = row[QLatin1String(key)].toString();
            fields << (value.isEmpty() ? QStringLiteral("-") : value);
        }
        lines << fields.join(QLatin1Char(' '));
    }
    return lines.join(QLatin1Char('\n'));
}
} // namespace

std::optional<QJsonObject> sendControlRequest(const HomePaths& home, const QJsonObject& request, QString* error)
{
    QLocalSocket socket;
    socket.connectToServer(home.controlSocketPath());
    if (!socket.waitForConnected(2000)) {
        *error = QStringLiteral("no running copy for this home (%1)").arg(socket.errorString());
        return std::nullopt;
    }
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!socket.waitForReadyRead(kAnswerTimeoutMs)) {
            *error = QStringLiteral("the copy did not answer");
            return std::nullopt;
        }
        answer += socket.readAll();
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(answer.left(answer.indexOf('\n')), &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("unreadable answer: %1").arg(parseError.errorString());
        return std::nullopt;
    }
    return document.object();
}

QString renderControlAnswer(const QString& command, const QJsonObject& answer)
{
    if (!answer.value(QStringLiteral("ok")).toBool())
        return QStringLiteral("error: ") + answer.value(QStringLiteral("error")).toString();
    if (command == QLatin1String("status"))
        return renderStatus(answer);
    if (command == QLatin1String("neighbours"))
        return renderNeighbours(answer);
    if (command == QLatin1String("tasks"))
        return renderTasks(answer);
    return answer.value(QStringLiteral("message")).toString();
}

int runControlClient(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Controls a running Vandry copy."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("home"), QStringLiteral("The copy's home folder."), QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("json"), QStringLiteral("Print the raw JSON answer.")});
    parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("status | neighbours | announce | download NEIGHBOUR REMOTE_PATH [LOCAL_PATH] | tasks | quit"));
    parser.process(arguments);
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty()) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }
    const HomePaths home = parser.isSet(QStringLiteral("home"))
                               ? HomePaths::forHome(parser.value(QStringLiteral("home")))
                               : HomePaths::standard();
    QJsonObject request{{QStringLiteral("cmd"), words.first()}};
    QJsonArray args;
    for (qsizetype i = 1; i < words.size(); ++i)
        args.append(words[i]);
    request.insert(QStringLiteral("args"), args);

    QString error;
    const auto answer = sendControlRequest(home, request, &error);
    if (!answer) {
        std::fprintf(stderr, "vandryctl: %s\n", qPrintable(error));
        return 1;
    }
    const QString text = parser.isSet(QStringLiteral("json"))
                             ? QString::fromUtf8(QJsonDocument(*answer).toJson(QJsonDocument::Compact))
                             : renderControlAnswer(words.first(), *answer);
    if (!text.isEmpty())
        std::printf("%s\n", text.toUtf8().constData());
    return answer->value(QStringLiteral("ok")).toBool() ? 0 : 1;
}

} // namespace vandry
