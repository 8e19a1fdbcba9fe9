#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QTranslator>

#include "common/version.h"
#include "fakes.h"
#include "ui/widgets/about_dialog.h"
#include "ui/widgets/settings_dialog.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
struct SettingsDialogTest : ::testing::Test {
    SettingsDialogTest()
    {
        fs.directories = {"/", "/srv/share", "/srv/dl"};
        fs.mounts = {{"/", true, 10}};
        settings.downloadRoot = "/srv/dl/";
    }
    AppSettings settings;
    ManualClock clock;
    NeighbourTable neighbours{clock, HostRecord{}};
    MemoryProfileStore store;
    Profile profile{store};
    FakeFileSystem fs;
    FakeAutostart autostart;
    SettingsForm form{settings, neighbours, profile, fs, autostart, "/usr/bin/vandry"};
};
} // namespace

TEST_F(SettingsDialogTest, EmptyShareKeepsTheDialogOpenWithTheFirstTip)
{
    SettingsDialog dialog(form);
    dialog.show();
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.lastTip(), QString::fromUtf8(kTipShareEmpty.data(), kTipShareEmpty.size()));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(SettingsDialogTest, ValidFieldsApplyAndClose)
{
    SettingsDialog dialog(form);
    dialog.show();
    EXPECT_EQ(dialog.downloadEdit()->text(), QStringLiteral("/srv/dl/"));
    dialog.nicknameEdit()->setText(QStringLiteral("carol"));
    dialog.shareEdit()->setText(QStringLiteral("/srv/share"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.announceRequested());
    EXPECT_TRUE(dialog.shareChanged());
    EXPECT_EQ(settings.shareRoot, "/srv/share/");
    EXPECT_EQ(store.values["Settings/NikeName"], "carol");
}

TEST_F(SettingsDialogTest, MissingShareShowsTheSecondTipButKeepsTheOtherChanges)
{
    SettingsDialog dialog(form);
    dialog.show();
    dialog.nicknameEdit()->setText(QStringLiteral("dave"));
    dialog.shareEdit()->setText(QStringLiteral("/srv/gone"));
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.lastTip(), QString::fromUtf8(kTipShareInvalid.data(), kTipShareInvalid.size()));
    EXPECT_EQ(store.values["Settings/NikeName"], "dave");
}

TEST_F(SettingsDialogTest, AMissingDownloadFolderIsCreatedOnlyAfterTheUserSaysSo)
{
    SettingsDialog dialog(form);
    dialog.show();
    QStringList asked;
    bool agree = false;
    dialog.confirmCreate = [&](const QString& folder) {
        asked << folder;
        return agree;
    };
    dialog.shareEdit()->setText(QStringLiteral("/srv/share"));
    dialog.downloadEdit()->setText(QStringLiteral("/srv/new"));
    dialog.accept();
    EXPECT_EQ(asked, QStringList{QStringLiteral("/srv/new/")});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(fs.isDirectory("/srv/new"));

    fs.creatable = false;
    agree = true;
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.lastTip(), QString::fromUtf8(kTipDownloadNotCreated.data(), kTipDownloadNotCreated.size()));

    fs.creatable = true;
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.downloadRoot, "/srv/new/");
}

TEST_F(SettingsDialogTest, AutorunBoxShowsTheSystemEntryAndWritesTheUserOne)
{
    autostart.systemWide = true;
    SettingsDialog dialog(form);
    EXPECT_TRUE(dialog.autorunBox()->isChecked());
    dialog.autorunBox()->setChecked(false);
    EXPECT_TRUE(autostart.userEntry.empty());
    dialog.autorunBox()->setChecked(true);
    EXPECT_EQ(autostart.userEntry, "/usr/bin/vandry");
}

TEST_F(SettingsDialogTest, WindowTextsSpeakOfTheDesktopInOneLanguageAndOneVersion)
{
    SettingsDialog dialog(form);
    EXPECT_FALSE(dialog.autorunBox()->text().contains(QStringLiteral("Windows")));

    AboutDialog about;
    QStringList labels;
    for (const QLabel* label : about.findChildren<QLabel*>())
        labels << label->text();
    EXPECT_TRUE(labels.contains(QString::fromUtf8(kVersionText.data(), kVersionText.size()) + QStringLiteral(" 版")))
        << labels.join(QLatin1Char('|')).toStdString();

    // Qt's own buttons (OK, Cancel, Yes) come from its Chinese catalogue, which setup installs.
    QTranslator qtTexts;
    ASSERT_TRUE(qtTexts.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
    EXPECT_EQ(qtTexts.translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}
