#include "qt/control_client.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <cstdio>

#include "common/text.h"

namespace vandry {

namespace {
constexpr int kAnswerTimeoutMs = 10000;

// Names, nicknames and texts come from other machines: nothing in them may drive the terminal.
QString shown(const QString& text)
{
    return QString::fromStdString(escapeControlCharacters(text.toStdString()));
}
QString shown(const QJsonValue& value)
{
    return shown(value.toString());
}
// A message of the copy's own may run over several lines; what it quotes may not add any.
QString shownLines(const QJsonValue& value)
{
    QStringList lines = value.toString().split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = shown(line);
    return lines.join(QLatin1Char('\n'));
}

QString renderStatus(const QJsonObject& a)
{
    QStringList lines;
    for (const char* key : {"identity", "nickname", "primary_lan", "secondary_lan", "udp_port", "tcp_port",
                            "best_server", "mapped", "share", "download", "logging"})
        lines << QStringLiteral("%1: %2").arg(QLatin1String(key),
                                              shown(a.value(QLatin1String(key)).toVariant().toString()));
    return lines.join(QLatin1Char('\n'));
}

QString renderNeighbours(const QJsonObject& a)
{
    QStringList lines;
    for (const QJsonValue& row : a.value(QStringLiteral("neighbours")).toArray())
        lines << shown(row[QStringLiteral("identity")]) + QLatin1Char(' ') + shown(row[QStringLiteral("nickname")]);
    return lines.join(QLatin1Char('\n'));
}
// One line per task: identity, state, progress, rate, local path, remote path.
QString renderTasks(const QJsonObject& a)
{
    QStringList lines;
    for (const QJsonValue& row : a.value(QStringLiteral("tasks")).toArray()) {
        QStringList fields;
        for (const char* key : {"identity", "state", "progress", "rate", "local", "remote"}) {
            const QString value = shown(row[QLatin1String(key)]);
            fields << (value.isEmpty() ? QStringLiteral("-") : value);
        }
        lines << fields.join(QLatin1Char(' '));
    }
    return lines.join(QLatin1Char('\n'));
}
QString orDash(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

// The neighbour's folder: a line per entry, the size in bytes (or <dir>) and the name.
QString renderListing(const QJsonObject& a)
{
    QStringList lines{
        QStringLiteral("%1 %2").arg(shown(a.value(QStringLiteral("host"))), shown(a.value(QStringLiteral("path"))))};
    for (const QJsonValue& entry : a.value(QStringLiteral("entries")).toArray()) {
        const bool folder = entry[QStringLiteral("folder")].toBool();
        const QString size =
            folder ? QStringLiteral("<dir>") : QString::number(entry[QStringLiteral("size")].toInteger());
        lines << QStringLiteral("%1  %2%3")
                     .arg(size, 14)
                     .arg(shown(entry[QStringLiteral("name")]), folder ? QStringLiteral("\\") : QString());
    }
    return lines.join(QLatin1Char('\n'));
}

// Each answering neighbour, then its matches with the paths to download them by.
QString renderSearch(const QJsonObject& a)
{
    QStringList lines;
    for (const QJsonValue& host : a.value(QStringLiteral("hosts")).toArray()) {
        lines << shown(host[QStringLiteral("host")]) + QLatin1Char(':');
        for (const QJsonValue& match : host[QStringLiteral("matches")].toArray()) {
            const QString size = shown(match[QStringLiteral("size")]);
            lines << QStringLiteral("  ") + shown(match[QStringLiteral("path")]) +
                         (size.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(size));
        }
    }
    if (lines.isEmpty())
        lines << QStringLiteral("no neighbour answered");
    return lines.join(QLatin1Char('\n'));
}

// The seeding view's columns: GUID, host, code, time and when the source may be tried again.
QString renderSources(const QJsonObject& a)
{
    QStringList lines{QStringLiteral("size %1  digest %2  refreshed %3")
                          .arg(shown(a.value(QStringLiteral("size"))), shown(a.value(QStringLiteral("digest"))),
                               orDash(shown(a.value(QStringLiteral("refresh")))))};
    for (const QJsonValue& row : a.value(QStringLiteral("sources")).toArray()) {
        QStringList fields;
        for (const char* key : {"guid", "host", "code", "time", "invoke"})
            fields << orDash(shown(row[QLatin1String(key)]));
        lines << fields.join(QLatin1Char(' '));
    }
    return lines.join(QLatin1Char('\n'));
}
// The task's file, then a line per receiving link (its range and where it is) and, for a folder
// task, a line per listed file with its state.
QString renderProperties(const QJsonObject& a)
{
    QStringList held;
    for (const QJsonValue& range : a.value(QStringLiteral("held")).toArray())
        held << QStringLiteral("%1-%2").arg(range[0].toInteger()).arg(range[1].toInteger());
    QStringList lines{
        QStringLiteral("file %1  size %2  digest %3")
            .arg(shown(a.value(QStringLiteral("file"))), QString::number(a.value(QStringLiteral("size")).toInteger()),
                 orDash(shown(a.value(QStringLiteral("digest"))))),
        QStringLiteral("blocks %1  held %2")
            .arg(QString::number(a.value(QStringLiteral("blocks")).toInteger()), orDash(held.join(QLatin1Char(' '))))};
    for (const QJsonValue& link : a.value(QStringLiteral("links")).toArray()) {
        const QJsonArray range = link[QStringLiteral("range")].toArray();
        lines << QStringLiteral("link %1  %2  range %3-%4 at %5  %6K/s  %7  via %8")
                     .arg(link[QStringLiteral("slot")].toInteger())
                     .arg(shown(link[QStringLiteral("source")]))
                     .arg(range[0].toInteger())
                     .arg(range[1].toInteger())
                     .arg(link[QStringLiteral("position")].toInteger())
                     .arg(link[QStringLiteral("rate")].toInteger())
                     .arg(shown(link[QStringLiteral("file")]), orDash(shown(link[QStringLiteral("path")])));
    }
    for (const QJsonValue& folder : a.value(QStringLiteral("folders")).toArray()) {
        lines << shown(folder[QStringLiteral("folder")]);
        for (const QJsonValue& file : folder[QStringLiteral("files")].toArray())
            lines << QStringLiteral("  %1 %2 %3")
                         .arg(shown(file[QStringLiteral("state")]),
                              QString::number(file[QStringLiteral("size")].toInteger()),
                              shown(file[QStringLiteral("name")]));
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
        return QStringLiteral("error: ") + shownLines(answer.value(QStringLiteral("error")));
    if (command == QLatin1String("status"))
        return renderStatus(answer);
    if (command == QLatin1String("neighbours"))
        return renderNeighbours(answer);
    if (command == QLatin1String("tasks"))
        return renderTasks(answer);
    if (command == QLatin1String("browse"))
        return renderListing(answer);
    if (command == QLatin1String("search"))
        return renderSearch(answer);
    if (command == QLatin1String("sources"))
        return renderSources(answer);
    if (command == QLatin1String("properties"))
        return renderProperties(answer);
    return shownLines(answer.value(QStringLiteral("message")));
}

int runControlClient(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Controls a running Vandry copy."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("home"), QStringLiteral("The copy's home folder."), QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("json"), QStringLiteral("Print the raw JSON answer.")});
    parser.addOption({QStringLiteral("with-files"), QStringLiteral("delete: remove the downloaded file too.")});
    parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("status | neighbours | announce | browse NEIGHBOUR [PATH] | search TEXT | "
                       "download NEIGHBOUR REMOTE_PATH [LOCAL_PATH] | tasks | stop ID | resume ID | "
                       "delete ID [--with-files] | sources ID | properties ID | quit"));
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
    if (parser.isSet(QStringLiteral("with-files")))
        args.append(QStringLiteral("--with-files"));
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
