#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fake_copy.h"
#include "ui/main_window_model.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
struct RecordingHost final : MainWindowHost {
    void announce(std::uint8_t form) override { announces.push_back(form); }
    void runExtraUpdateCheck() override { ++extraChecks; }
    void postToMainThread(std::function<void()> work) override { posted.push_back(std::move(work)); }
    void openWithDesktop(const std::string& path) override { opened.push_back(path); }
    void trimMemory() override { ++trims; }
    std::vector<LinkSlotView> linkSlots() const override { return std::vector<LinkSlotView>(128); }
    void openLink(const LinkRequest& request) override { links.push_back(request); }
    int countTaskLinks(const HostIdentity&) const override { return 0; }
    std::vector<TransferProgress> transferProgress() override { return {}; }
    void sweepIdleLinks() override { ++sweeps; }
    std::vector<LinkRequest> links;
    int sweeps = 0;

    void runPosted()
    {
        auto work = std::move(posted);
        posted.clear();
        for (auto& w : work)
            w();
    }
    std::vector<std::uint8_t> announces;
    std::vector<std::function<void()>> posted;
    std::vector<std::string> opened;
    int extraChecks = 0;
    int trims = 0;
};

struct RecordingView final : MainWindowView {
    void neighboursChanged() override { ++refreshes; }
    void loggingChanged(bool on) override { logging = on; }
    void tasksChanged() override {}
    void showLocalFileError(const std::string&, const std::string&) override {}
    int refreshes = 0;
    bool logging = false;
};

struct MainWindowModelTest : ::testing::Test {
    MainWindowModelTest()
    {
        fake.copy.refreshLocalRecord();
        fake.copy.takeNetworkSnapshot();
        fake.copy.loadSettings();
        model.setView(&view);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            model.tick();
    }
    FakeCopy fake;
    EventLog log;
    RecordingHost host;
    RecordingView view;
    MainWindowModel model{fake.copy, log, host};
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
