#pragma once
// The running copy on Qt: the core's RunningCopy wired to this machine's clock, network,
// file system, profile and autostart entries, and driven by a one-second timer. Both front
// ends, the window and the headless mode, run one of these.

#include <QObject>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/autostart.h"
#include "app/running_copy.h"
#include "app/settings_form.h"
#include "qt/home_paths.h"
#include "qt/linux_platform.h"
#include "qt/qt_file_system.h"
#include "qt/qt_profile_store.h"

namespace vandry {

class CopyRuntime : public QObject {
    Q_OBJECT
public:
    explicit CopyRuntime(const HomePaths& home, QObject* parent = nullptr);
    ~CopyRuntime() override;

    RunningCopy& copy() { return copy_; }
    const RunningCopy& copy() const { return copy_; }
    SettingsForm& settingsForm() { return settingsForm_; }
    const HomePaths& home() const { return home_; }

    // The first half of start-up: local record, network snapshot, settings. Returns the root
    // the user still has to choose before the copy can share, if any.
    MissingRoot start();
    // The second half: starts the one-second tick.
    void run();
    // The stop sequence; emits stopped() when done.
    void stop();

    // Identity, addresses and settings, one "name: value" line each.
    std::vector<std::string> statusLines() const;

signals:
    void announceRequested();
    void stopped();

private:
    void tick();

    HomePaths home_;
    SystemClock clock_;
    LinuxNetworkPlatform network_;
    LinuxHostPlatform host_;
    QtFileSystem fileSystem_;
    QtProfileStore profileStore_;
    XdgAutostart autostart_;
    RunningCopy copy_;
    SettingsForm settingsForm_;
    QTimer ticker_;
    std::uint32_t tickCount_ = 0;
};

} // namespace vandry
