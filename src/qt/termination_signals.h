#pragma once
// Turns SIGINT and SIGTERM into a Qt signal on the main thread, so that a headless copy runs
// its stop sequence instead of dying in the middle of a write.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace vandry {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace vandry
