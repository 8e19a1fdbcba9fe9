#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "qt/home_paths.h"
#include "qt/launch.h"
#include "qt/qt_profile_store.h"

using namespace vandry;

TEST(QtProfileStore, RoundTripsUtf8TextsInTheSettingsGroup)
{
    QTemporaryDir dir;
    const HomePaths home = HomePaths::forHome(dir.path());
    {
        QtProfileStore store(home.openSettings());
        Profile profile(store);
        profile.setNickname("网名 alice");
        profile.setShareRoot("/srv/共享/");
        profile.setLogging(true);
    }
    QtProfileStore store(home.openSettings());
    Profile profile(store);
    EXPECT_EQ(profile.nickname(), "网名 alice");
    EXPECT_EQ(profile.shareRoot(), "/srv/共享/");
    EXPECT_TRUE(profile.logging());
    EXPECT_EQ(profile.downloadRoot(), "");
    EXPECT_EQ(store.readText("Settings", "Logging"), "1");
    EXPECT_EQ(home.openSettings()->value(QStringLiteral("Settings/NikeName")).toString(), QStringLiteral("网名 alice"));
}

TEST(LaunchOptions, SeparatesOurOptionsFromTheHandOverArguments)
{
    const auto options = parseLaunchOptions({QStringLiteral("vandry"), QStringLiteral("--headless"),
                                             QStringLiteral("--home"), QStringLiteral("/h"), QStringLiteral("-U"),
                                             QStringLiteral("/new vandry"), QStringLiteral("--nick")});
    EXPECT_TRUE(options.headless);
    EXPECT_EQ(options.home, QStringLiteral("/h"));
    EXPECT_FALSE(options.nickname.has_value()); // after "-U" everything belongs to the reader
    EXPECT_EQ(options.positional,
              (QStringList{QStringLiteral("-U"), QStringLiteral("/new vandry"), QStringLiteral("--nick")}));
}

TEST(LaunchOptions, WritesProfileValuesWithAbsoluteRoots)
{
    QTemporaryDir dir;
    LaunchOptions options;
    options.home = dir.path();
    options.nickname = QStringLiteral("bob");
    options.shareRoot = dir.path() + QStringLiteral("/share");
    const HomePaths home = homePathsFor(options);
    applyProfileOptions(options, home);
    QtProfileStore store(home.openSettings());
    Profile profile(store);
    EXPECT_EQ(profile.nickname(), "bob");
    EXPECT_EQ(profile.shareRoot(), (dir.path() + QStringLiteral("/share/")).toStdString());
}

TEST(LaunchOptions, UploadLimitIsAWholePositiveNumberOfKibPerSecond)
{
    const auto limited =
        parseLaunchOptions({QStringLiteral("vandry"), QStringLiteral("--upload-limit"), QStringLiteral("200")});
    EXPECT_EQ(limited.uploadLimit, 200 * 1024);
    EXPECT_FALSE(parseLaunchOptions({QStringLiteral("vandry")}).uploadLimit.has_value());

    EXPECT_EQ(parseUploadLimit(QStringLiteral("1")), 1024);
    EXPECT_EQ(parseUploadLimit(QStringLiteral("2097151")), 2097151 * 1024);
    for (const char* refused : {"0", "-5", "", "abc", "1.5", "12k", "2097152", "99999999999"})
        EXPECT_FALSE(parseUploadLimit(QString::fromLatin1(refused)).has_value()) << refused;

    // It sets the limit for this run; without it the limit stays as the settings have it.
    AppSettings settings;
    applyRunOptions(LaunchOptions{}, settings);
    EXPECT_EQ(settings.uploadLimit, -1);
    applyRunOptions(limited, settings);
    EXPECT_EQ(settings.uploadLimit, 204800);
}
