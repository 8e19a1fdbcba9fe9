#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>

#include "fakes.h"
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
