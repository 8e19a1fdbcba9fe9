#pragma once
// The copy a hand-over replaces, watched through a pidfd: its identifier cannot be reused
// behind our back while we wait.

#include <QString>
#include <memory>

#include "update/older_process_wait.h"

namespace vandry {

class LinuxOlderProcess final : public OlderProcess {
public:
    // The process `pid` if it still runs the executable `target`; nullptr when it is gone or
    // runs something else (nothing of another program is ever ended).
    static std::unique_ptr<LinuxOlderProcess> open(qint64 pid, const QString& target);
    ~LinuxOlderProcess() override;

    bool running() override;
    void terminate() override;

private:
    LinuxOlderProcess(int pidfd, qint64 pid) : pidfd_(pidfd), pid_(pid) {}
    int pidfd_;
    qint64 pid_;
};

} // namespace vandry
