#pragma once
// Where one copy keeps its things. By default: the profile in Qt's native settings location
// for "Quillomax Co"/"vandry" and the persistence folder in $XDG_STATE_HOME/vandry. With
// --home DIR everything lives under DIR, so several copies can run side by side.

#include <QSettings>
#include <QString>
#include <memory>

namespace vandry {

struct HomePaths {
    QString settingsFile; // empty: the native per-user location
    QString stateDir;     // the copy's persistence folder ("Table.hash", "EVT.TXT", ...)
    QString instanceKey;  // tells copies of different homes apart in the instance guard

    static HomePaths forHome(const QString& dir);
    static HomePaths standard();

    std::unique_ptr<QSettings> openSettings() const;
    // The local socket through which a second start and vandryctl reach the running copy.
    QString controlSocketPath() const;
    QString instanceLockPath() const;
    bool ensureStateDir() const;
};

} // namespace vandry
