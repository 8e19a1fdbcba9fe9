#include "qt/headless_front_end.h"

#include <QCoreApplication>
#include <cstdio>

#include "qt/control_protocol.h"
#include "qt/copy_runtime.h"
#include "qt/hand_over.h"
#include "qt/termination_signals.h"

namespace vandry {

namespace {
const char* missingRootText(MissingRoot missing)
{
    switch (missing) {
    case MissingRoot::ShareRoot:
        return "no valid share folder is set (setting \"UpRoot\"); start once with --share DIR";
    case MissingRoot::DownloadRoot:
        return "no download folder is set (setting \"DnRoot\"); start once with --download DIR";
    case MissingRoot::None:
        break;
    }
    return "";
}
// Without a window, what the window would show goes to the log.
class HeadlessView final : public MainWindowView {
public:
    void neighboursChanged() override {}
    void loggingChanged(bool) override {}
    void tasksChanged() override {}
    void showLocalFileError(const std::string& path, const std::string& reason) override
    {
        qWarning("cannot write %s: %s", path.c_str(), reason.c_str());
    }
};
} // namespace

int runHeadless(const LaunchOptions& options)
{
    const HomePaths home = homePathsFor(options);
    InstanceGuard guard(home);
    const auto handOver = [](const HandOverRequest& request) {
        return runHandOver(request.target, request.olderProcess, request.relaunchArguments);
    };
    if (const auto exitCode = prepareLaunch(options, home, guard, handOver))
        return *exitCode;

    CopyRuntime runtime(home, options.feed);
    // Nobody to ask: only upgrades the feed marks automatic are installed.
    runtime.prepareUpgrades(relaunchArguments(options), nullptr);
    HeadlessView view;
    runtime.windowModel().setView(&view);
    if (const MissingRoot missing = runtime.start(); missing != MissingRoot::None) {
        std::fprintf(stderr, "vandry: %s\n", missingRootText(missing));
        return 2;
    }
    applyRunOptions(options, runtime.copy().settings());
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &runtime, [&runtime](int signalNumber) {
        qInfo("signal %d: stopping", signalNumber);
        runtime.stop();
    });
    QObject::connect(&guard, &InstanceGuard::activationRequested, &runtime,
                     [] { qInfo("a second start asked this copy to show itself (no window in headless mode)"); });
    QObject::connect(&runtime, &CopyRuntime::stopped, QCoreApplication::instance(), &QCoreApplication::quit,
                     Qt::QueuedConnection);

    guard.setRequestHandler([&runtime](const QByteArray& line, ControlConnection::Reply reply) {
        handleControlRequest(runtime.commands(), line, std::move(reply));
    });
    if (!runtime.run())
        return 1;
    qInfo("Vandry started without a window");
    for (const QString& line : statusLines(runtime.commands().status()))
        qInfo("  %s", qPrintable(line));
    qInfo("  settings file: %s",
          qPrintable(home.settingsFile.isEmpty() ? home.openSettings()->fileName() : home.settingsFile));
    qInfo("  state folder: %s", qPrintable(home.stateDir));
    const int code = QCoreApplication::exec();
    qInfo("stopped");
    return code;
}

} // namespace vandry
