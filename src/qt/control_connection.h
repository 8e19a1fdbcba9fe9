#pragma once
// One connection to the copy's local socket. A second start sends the four activation bytes
// "NOP\0" and goes; vandryctl sends requests as lines of JSON and reads one line of JSON back
// for each.

#include <QByteArray>
#include <QLocalSocket>
#include <QObject>
#include <functional>

namespace vandry {

inline constexpr char kActivationPayload[4] = {'N', 'O', 'P', '\0'};
// A request line longer than this closes the connection: nothing legitimate comes near it.
inline constexpr qsizetype kMaxControlLine = 64 * 1024;

class ControlConnection : public QObject {
    Q_OBJECT
public:
    using Reply = std::function<void(const QByteArray& answer)>;
    // Answers `line` through `reply`, at once or later; the next line waits for that answer.
    using RequestHandler = std::function<void(const QByteArray& line, Reply reply)>;

    ControlConnection(QLocalSocket* socket, RequestHandler handler, QObject* parent);

signals:
    void activationRequested();

private:
    void onReadyRead();
    void answerPendingLines();

    QLocalSocket* socket_;
    RequestHandler handler_;
    QByteArray pending_;
    bool answering_ = false;
};

} // namespace vandry
