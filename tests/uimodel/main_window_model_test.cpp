#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fake_copy.h"
#include "fake_window_host.h"
#include "store/share_hash_table.h"
#include "ui/main_window_model.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
struct RecordingView final : MainWindowView {
    void neighboursChanged() override { ++refreshes; }
    void loggingChanged(bool on) override { logging = on; }
    void tasksChanged() override {}
    void showLocalFileError(const std::string&, const std::string&) override {}
    void taskEnded(const std::string& name, bool finished, const std::string& reason) override
    {
        ended.push_back(name + (finished ? " done" : " failed: " + reason));
    }
    int refreshes = 0;
    std::vector<std::string> ended;
    bool logging = false;
};

struct MainWindowModelTest : ::testing::Test {
    MainWindowModelTest()
    {
        fake.copy.refreshLocalRecord();
        fake.copy.takeNetworkSnapshot();
        fake.copy.loadSettings();
        host.runPostedAtOnce = false;
        model.setView(&view);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            model.tick();
    }
    FakeCopy fake;
    EventLog log;
    FakeWindowHost host;
    NoFileInfo noFileInfo;
    ShareHashTable hashes{noFileInfo, [] { return std::string(); }};
    RecordingView view;
    MainWindowModel model{fake.copy, log, host, hashes};
};
} // namespace

TEST_F(MainWindowModelTest, StartListsTheLocalCopyThroughAPostedRefresh)
{
    model.start();
    EXPECT_EQ(view.refreshes, 0);
    host.runPosted();
    EXPECT_EQ(view.refreshes, 1);
    ASSERT_EQ(model.neighbourRows().size(), 1u);
    EXPECT_EQ(model.neighbourRows()[0].nickname, "tester");
}

TEST_F(MainWindowModelTest, TickAnnouncesEvery20WithForm1Every80)
{
    ticks(160);
    EXPECT_EQ(host.announces, (std::vector<std::uint8_t>{0, 0, 0, 1, 0, 0, 0, 1}));
}

TEST_F(MainWindowModelTest, NetworkChangeRebuildsTheRecordAndAnnouncesOnThe12thTick)
{
    fake.network.statistics = IpStatistics{3, 2};
    fake.network.adapterList->push_back({3, "wlan0", ip("10.1.2.3"), 0});
    fake.network.routes.push_back({ip("10.1.2.0"), ip("255.255.255.0"), 0, 3, 50});
    ticks(11);
    EXPECT_TRUE(host.posted.empty());
    model.tick();
    EXPECT_EQ(fake.copy.localRecord().lanSecondary, ip("10.1.2.3"));
    host.runPosted();
    EXPECT_EQ(host.announces, (std::vector<std::uint8_t>{1}));
}

TEST_F(MainWindowModelTest, HiddenWindowTrimsMemoryOnceOnAMultipleOf4)
{
    ticks(1);
    model.windowHidden();
    ticks(3);
    host.runPosted();
    EXPECT_EQ(host.trims, 1);
    ticks(8);
    host.runPosted();
    EXPECT_EQ(host.trims, 1);
}

TEST_F(MainWindowModelTest, LinkDumpOnlyWhileLoggingIsOn)
{
    const auto path = std::filesystem::temp_directory_path() / "vandry-model-test-EVT.TXT";
    ASSERT_TRUE(log.open(path));
    model.requestLinkDump();
    EXPECT_TRUE(host.opened.empty());
    model.toggleLogging();
    EXPECT_TRUE(view.logging);
    EXPECT_EQ(fake.profileStore.values["Settings/Logging"], "1");
    model.requestLinkDump();
    ASSERT_EQ(host.opened.size(), 1u);
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 130);
    model.toggleLogging();
    EXPECT_EQ(fake.profileStore.values["Settings/Logging"], "0");
    std::filesystem::remove(path);
}

TEST_F(MainWindowModelTest, DiscoveryMessagesReachTheRightPlaces)
{
    HostRecord neighbour;
    neighbour.identity[0] = 7;
    neighbour.setNickname("bob");
    fake.copy.neighbours().merge(std::vector{neighbour}, 0);
    model.neighboursArrived();
    EXPECT_EQ(model.neighbourRows().size(), 2u);
    model.serverListArrived();
    EXPECT_EQ(host.extraChecks, 1);
    model.announceRequested(); // from the probe thread: posted, not run in place
    EXPECT_TRUE(host.announces.empty());
    host.runPosted();
    EXPECT_EQ(host.announces, (std::vector<std::uint8_t>{1}));
}

TEST_F(MainWindowModelTest, StatusFiguresCountUploadsPerSecondAndTheServersSilence)
{
    EXPECT_FALSE(model.statusFigures().serverReached);
    model.serverRecordsArrived();
    EXPECT_TRUE(model.statusFigures().serverReached);

    host.uploadList = {{LinkIndex{3}, "bob", "\\film.mkv", 1000}};
    ticks(1);
    host.uploadList[0].sentBytes = 51000;
    ticks(1);
    ASSERT_EQ(model.uploads().size(), 1u);
    EXPECT_EQ(model.uploads()[0].bytesPerSecond, 50000u);
    EXPECT_EQ(model.statusFigures().uploadRate, 50000u);
    // The link went on to another file: its count starts afresh.
    host.uploadList = {{LinkIndex{3}, "bob", "\\other.iso", 700}};
    ticks(1);
    EXPECT_EQ(model.uploads()[0].bytesPerSecond, 700u);

    ticks(57);
    EXPECT_TRUE(model.statusFigures().serverReached);
    ticks(1);
    EXPECT_FALSE(model.statusFigures().serverReached); // a minute without the server's records
}

TEST_F(MainWindowModelTest, TheViewHearsOnceWhenADownloadFinishesAndWhenItsSharerRefusesIt)
{
    TaskRecord record;
    record.localPath = "/dl/song.mp3";
    HostIdentity task{};
    task.fill(7);
    model.tasks().addTaskRow(record, task, "h", kProgressNew, 0);
    TransferEvent event;
    event.taskId = task;
    event.text = "No such file or directory";
    model.taskEvent(event, EventType::PeerFailed);
    event.text = "结束传输";
    model.taskEvent(event, EventType::TransferEnded);
    model.taskEvent(event, EventType::TransferEnded); // already finished: no second word
    EXPECT_EQ(view.ended, (std::vector<std::string>{"song.mp3 failed: No such file or directory", "song.mp3 done"}));
}
