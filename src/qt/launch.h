#pragma once
// What both front ends do before a copy runs: read the command line, hand over to an upgrade
// when asked, take the single-instance guard of the home, and write the profile values given
// on the command line.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "app/app_settings.h"
#include "app/command_line.h"
#include "qt/home_paths.h"
#include "qt/instance_guard.h"
#include "ui/copy_commands.h"
#include "update/feed_config.h"

namespace vandry {

struct LaunchOptions {
    bool headless = false;
    std::optional<QString> home;
    std::optional<QString> nickname;
    std::optional<QString> shareRoot;
    std::optional<QString> downloadRoot;
    FeedConfigOverrides feed;
    std::optional<int> uploadLimit;     // bytes per second, for this run only
    std::optional<QString> portMapping; // auto, upnp, natpmp or off, for this run only
    std::optional<qint64> olderProcess; // a hand-over: the process of the copy being replaced
    QStringList positional;             // what the start-up command-line reader sees after the program path
};

// The options a copy started after an upgrade runs with: this run's, less those already in the
// profile and those of the hand-over.
QStringList relaunchArguments(const LaunchOptions& options);

// An upgrade hand-over due at start-up: replace `target` with this executable.
struct HandOverRequest {
    QString target;
    std::optional<qint64> olderProcess;
    QStringList relaunchArguments;
};
// Runs the hand-over; returns the exit code.
using HandOverRunner = std::function<int(const HandOverRequest&)>;

// Parses the options of `vandry`; prints help or version and exits for --help and --version.
LaunchOptions parseLaunchOptions(const QStringList& arguments);

// The --upload-limit value, KiB per second from 1 to 2097151, in bytes per second; nothing for
// anything else.
std::optional<int> parseUploadLimit(const QString& kib);

HomePaths homePathsFor(const LaunchOptions& options);

// Writes --nick, --share and --download into the home's profile (roots made absolute and
// ending in a separator).
void applyProfileOptions(const LaunchOptions& options, const HomePaths& home);

// Sets what the command line gives for this run only (--upload-limit, --port-mapping); call it once the settings
// are loaded.
void applyRunOptions(const LaunchOptions& options, AppSettings& settings);

// Everything before a copy runs: the start-up command-line reader (which may hand over to an
// upgrade or relaunch), the instance guard of the home (a second start tells the running copy
// to show itself), and the profile values of the command line. Returns the exit code when this
// start ends here (after `runHandOver`, for a hand-over); on a guard failure, guard.errorText()
// says why.
std::optional<int> prepareLaunch(const LaunchOptions& options, const HomePaths& home, InstanceGuard& guard,
                                 const HandOverRunner& runHandOver);

// The copy's identity, addresses and settings as "name: value" lines, for the log and vandryctl.
QStringList statusLines(const CopyStatus& status);

} // namespace vandry
