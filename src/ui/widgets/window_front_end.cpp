#include "ui/widgets/window_front_end.h"

#include <QApplication>
#include <QMessageBox>

#include "qt/control_protocol.h"
#include "qt/copy_runtime.h"
#include "ui/widgets/main_window.h"

namespace vandry {

int runWindow(const LaunchOptions& options)
{
    const HomePaths home = homePathsFor(options);
    InstanceGuard guard(home);
    if (const auto exitCode = prepareLaunch(options, home, guard)) {
        if (!guard.errorText().isEmpty())
            QMessageBox::critical(nullptr, QStringLiteral("Vandry"), guard.errorText());
        return *exitCode;
    }

    CopyRuntime runtime(home, options.feed);
    MainWindow window(runtime);
    QObject::connect(&guard, &InstanceGuard::activationRequested, &window, &MainWindow::bringToFront);
    QObject::connect(&runtime, &CopyRuntime::stopped, qApp, &QApplication::quit, Qt::QueuedConnection);
    const MissingRoot missing = runtime.start();
    applyRunOptions(options, runtime.copy().settings());
    // The first start, or a share folder that went away: ask before the window is usable.
    if (missing != MissingRoot::None)
        window.openSettings();
    guard.setRequestHandler([&runtime](const QByteArray& line, ControlConnection::Reply reply) {
        handleControlRequest(runtime.commands(), line, std::move(reply));
    });
    if (!runtime.run()) {
        QMessageBox::critical(nullptr, QStringLiteral("Vandry"), QStringLiteral("SocketError"));
        return 1;
    }
    window.show();
    return QApplication::exec();
}

} // namespace vandry
