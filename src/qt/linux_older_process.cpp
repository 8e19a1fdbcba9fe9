#include "qt/linux_older_process.h"

#include <QFileInfo>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vandry {

namespace {
// How long an ended process may take to go.
constexpr int kTerminateGraceMs = 5000;
} // namespace

std::unique_ptr<LinuxOlderProcess> LinuxOlderProcess::open(qint64 pid, const QString& target)
{
    if (pid <= 0 || pid == ::getpid())
        return nullptr;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (pidfd < 0)
        return nullptr;
    // Checked after the pidfd is held, so that the process checked is the one watched.
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    if (exe != QFileInfo(target).canonicalFilePath()) {
        ::close(pidfd);
        return nullptr;
    }
    return std::unique_ptr<LinuxOlderProcess>(new LinuxOlderProcess(pidfd, pid));
}

LinuxOlderProcess::~LinuxOlderProcess()
{
    ::close(pidfd_);
}

bool LinuxOlderProcess::running()
{
    pollfd ended{pidfd_, POLLIN, 0};
    return ::poll(&ended, 1, 0) == 0;
}

void LinuxOlderProcess::terminate()
{
    if (::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0) != 0)
        return;
    pollfd ended{pidfd_, POLLIN, 0};
    ::poll(&ended, 1, kTerminateGraceMs);
}

} // namespace vandry
