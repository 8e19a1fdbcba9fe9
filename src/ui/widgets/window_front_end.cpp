#include "ui/widgets/window_front_end.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include "qt/control_protocol.h"
#include "qt/copy_runtime.h"
#include "qt/hand_over.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/upgrade_dialogs.h"

namespace vandry {

namespace {
// The window speaks Chinese whatever the desktop's language, so Qt's own buttons and dialogs
// (OK, Cancel, the file dialog) must too.
void installChineseQtTexts(QTranslator& translator)
{
    if (translator.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&translator);
}
} // namespace

int runWindow(const LaunchOptions& options)
{
    QTranslator qtTexts;
    installChineseQtTexts(qtTexts);
    const HomePaths home = homePathsFor(options);
    InstanceGuard guard(home);
    const auto handOver = [](const HandOverRequest& request) {
        UpgradeProgressDialog note;
        note.show();
        return runHandOver(request.target, request.olderProcess, request.relaunchArguments);
    };
    if (const auto exitCode = prepareLaunch(options, home, guard, handOver)) {
        if (!guard.errorText().isEmpty())
            QMessageBox::critical(nullptr, QStringLiteral("Vandry"), guard.errorText());
        return *exitCode;
    }

    // Declared first, so that the prompt outlives the copy's upgrade flow.
    UpgradePrompts upgradePrompts;
    CopyRuntime runtime(home, options.feed);
    runtime.prepareUpgrades(relaunchArguments(options), &upgradePrompts);
    // The copy quits through its stop sequence only: with the window in the notification area,
    // closing the last dialog must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
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
        QMessageBox::critical(nullptr, QStringLiteral("Vandry"),
                              QStringLiteral("网络端口打开失败，可能已被其他程序占用。"));
        return 1;
    }
    window.show();
    return QApplication::exec();
}

} // namespace vandry
