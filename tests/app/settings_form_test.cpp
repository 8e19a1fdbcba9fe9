#include <gtest/gtest.h>

#include "app/settings_form.h"
#include "fakes.h"

using namespace vandry;
using namespace vandry::testing;
using Result = ApplyOutcome::Result;

namespace {
struct SettingsFormTest : ::testing::Test {
    SettingsFormTest()
    {
        fs.directories = {"/", "/home", "/home/u/share", "/home/u/dl", "/mnt/nfs", "/data"};
        fs.mounts = {{"/", true, 100}, {"/mnt/nfs", false, 900}, {"/data", true, 500}, {"/big", true, 500}};
        HostRecord local;
        local.setNickname("alice");
        neighbours.setLocal(local);
    }
    std::string nickname() const { return neighbours.local().host.nickname(); }
    std::string value(std::string_view key) { return store.values[std::string("Settings/") + std::string(key)]; }

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

TEST_F(SettingsFormTest, FirstOpenProposesAFolderInTheDesktopsDownloadFolderAndCreatesItOnApply)
{
    const auto view = form.open();
    EXPECT_EQ(view.fields.downloadRoot, "/home/u/Downloads/Vandry/");
    EXPECT_EQ(view.fields.nickname, "alice");
    EXPECT_EQ(view.uploadPosition, kUploadSliderMax);
    EXPECT_EQ(view.uploadText, "不限速");
    EXPECT_FALSE(view.autorun);

    EXPECT_EQ(form.apply({"alice", "/home/u/share", view.fields.downloadRoot}).result, Result::Closed);
    EXPECT_TRUE(fs.isDirectory("/home/u/Downloads/Vandry"));
    EXPECT_EQ(settings.downloadRoot, "/home/u/Downloads/Vandry/");
}

TEST_F(SettingsFormTest, ATypedDownloadFolderIsCreatedOnlyWhenTheUserAgreesAndAReadOnlyOneIsRefused)
{
    auto outcome = form.apply({"bob", "/home/u/share", "/home/u/films"});
    EXPECT_EQ(outcome.result, Result::DownloadMissing);
    EXPECT_FALSE(fs.isDirectory("/home/u/films"));
    EXPECT_EQ(store.writes, 0);
    EXPECT_EQ(nickname(), "alice");

    ASSERT_TRUE(form.createDownloadFolder(outcome.fields.downloadRoot));
    EXPECT_EQ(form.apply({"bob", "/home/u/share", "/home/u/films"}).result, Result::Closed);
    EXPECT_EQ(value(kKeyDownloadRoot), "/home/u/films/");

    fs.readOnly.insert("/");
    outcome = form.apply({"bob", "/home/u/share", "/"});
    EXPECT_EQ(outcome.result, Result::DownloadNotWritable);
    EXPECT_EQ(outcome.tip, kTipDownloadNotWritable);
    EXPECT_EQ(settings.downloadRoot, "/home/u/films/");
}

TEST_F(SettingsFormTest, EmptyShareStaysOpenAndWritesNothing)
{
    const auto outcome = form.apply({"bob", "", "/home/u/dl"});
    EXPECT_EQ(outcome.result, Result::ShareEmpty);
    EXPECT_EQ(outcome.tip, kTipShareEmpty);
    EXPECT_EQ(store.writes, 0);
    EXPECT_EQ(nickname(), "alice");
}

TEST_F(SettingsFormTest, MissingShareFolderKeepsNicknameAndDownloadRootSaved)
{
    const auto outcome = form.apply({"bob", "/nowhere", "/home/u/dl"});
    EXPECT_EQ(outcome.result, Result::ShareInvalid);
    EXPECT_EQ(outcome.tip, kTipShareInvalid);
    EXPECT_TRUE(outcome.announce);
    EXPECT_EQ(value(kKeyNickname), "bob");
    EXPECT_EQ(value(kKeyDownloadRoot), "/home/u/dl/");
    EXPECT_EQ(settings.downloadRoot, "/home/u/dl/");
    EXPECT_TRUE(settings.shareRoot.empty());
    EXPECT_EQ(store.values.count("Settings/UpRoot"), 0u);
}

TEST_F(SettingsFormTest, ValidShareClosesAppendsSeparatorsAndAsksForAnIndexRebuild)
{
    const auto outcome = form.apply({"alice", "/home/u/share", "/home/u/dl/"});
    EXPECT_EQ(outcome.result, Result::Closed);
    EXPECT_FALSE(outcome.announce); // nickname unchanged
    EXPECT_TRUE(outcome.shareChanged);
    EXPECT_EQ(settings.shareRoot, "/home/u/share/");
    EXPECT_EQ(value(kKeyShareRoot), "/home/u/share/");
    // Applying the same again changes nothing.
    const int writes = store.writes;
    EXPECT_FALSE(form.apply({"alice", "/home/u/share/", "/home/u/dl/"}).shareChanged);
    EXPECT_EQ(store.writes, writes);
}

TEST_F(SettingsFormTest, BareMountPointIsAShareOnlyWhenLocal)
{
    EXPECT_EQ(form.apply({"alice", "/mnt/nfs", "/home/u/dl"}).result, Result::ShareInvalid);
    EXPECT_EQ(form.apply({"alice", "/data/", "/home/u/dl"}).result, Result::Closed);
    EXPECT_EQ(settings.shareRoot, "/data/");
}

TEST_F(SettingsFormTest, LongNicknameIsSavedAsItsFirst15Bytes)
{
    const auto outcome = form.apply({"abcdefghijklmnopqrst", "/home/u/share", "/home/u/dl"});
    EXPECT_TRUE(outcome.announce);
    EXPECT_EQ(nickname(), "abcdefghijklmno");
    EXPECT_EQ(value(kKeyNickname), "abcdefghijklmno");
}

TEST_F(SettingsFormTest, UploadSliderStepsFromKilobytesToUnlimitedAndIsSaved)
{
    EXPECT_EQ(form.open().uploadPosition, kUploadSliderMax);
    EXPECT_EQ(form.moveUploadSlider(1), "128 KB/s");
    EXPECT_EQ(settings.uploadLimit, 131072);
    EXPECT_EQ(value(kKeyUploadLimit), "131072");
    EXPECT_EQ(profile.uploadLimit(), 131072);
    EXPECT_EQ(form.moveUploadSlider(kUploadSliderMax), "不限速");
    EXPECT_EQ(profile.uploadLimit(), -1);
    // A limit from the command line shows at the first step that holds it.
    settings.uploadLimit = 3 << 20;
    EXPECT_EQ(form.open().uploadPosition, 6);
    EXPECT_EQ(form.open().uploadText, "3.0 MB/s");
    store.values["Settings/UpLimit"] = "12abc";
    EXPECT_EQ(profile.uploadLimit(), -1);
}

TEST_F(SettingsFormTest, AutorunShowsTheSystemEntryAndWritesTheUserEntry)
{
    autostart.systemWide = true;
    EXPECT_TRUE(form.open().autorun);
    form.setAutorun(true);
    EXPECT_EQ(autostart.userEntry, "/usr/bin/vandry");
    form.setAutorun(false);
    EXPECT_TRUE(autostart.userEntry.empty());
}

TEST(ProfileTest, LoggingToggleWritesOneThenZero)
{
    MemoryProfileStore store;
    Profile profile(store);
    AppSettings settings;
    loadLogging(profile, settings);
    EXPECT_FALSE(settings.logging);
    toggleLogging(profile, settings);
    EXPECT_EQ(store.values["Settings/Logging"], "1");
    toggleLogging(profile, settings);
    EXPECT_EQ(store.values["Settings/Logging"], "0");
    store.values["Settings/Logging"] = "7junk";
    loadLogging(profile, settings);
    EXPECT_TRUE(settings.logging);
    store.values["Settings/Logging"] = "junk";
    loadLogging(profile, settings);
    EXPECT_FALSE(settings.logging);
}

TEST(ProfileTest, OverlongRootsAreRefused)
{
    MemoryProfileStore store;
    Profile profile(store);
    store.values["Settings/UpRoot"] = "/" + std::string(kMaxRootLength, 'a');
    store.values["Settings/DnRoot"] = "/" + std::string(kMaxRootLength - 1, 'a');
    EXPECT_TRUE(profile.shareRoot().empty());
    EXPECT_EQ(profile.downloadRoot().size(), kMaxRootLength);
}
