#include <gtest/gtest.h>

#include "common/format_size.h"
#include "ui/link_dump.h"
#include "ui/neighbour_list.h"
#include "ui/tick_schedule.h"
#include "ui/window_layout.h"

using namespace vandry;

TEST(FormatSize, OneStyleWithUnitsFromBytesToPetabytes)
{
    EXPECT_EQ(formatSize(0), "0 B");
    EXPECT_EQ(formatSize(1023), "1023 B");
    EXPECT_EQ(formatSize(1024), "1.0 KB");
    EXPECT_EQ(formatSize(10188), "9.9 KB");
    EXPECT_EQ(formatSize(10240), "10 KB");
    EXPECT_EQ(formatSize(1048575), "1.0 MB"); // never "1024 KB"
    EXPECT_EQ(formatSize(4404019), "4.2 MB");
    EXPECT_EQ(formatSize(64ull << 20), "64 MB");
    EXPECT_EQ(formatSize(5ull << 40), "5.0 TB");
    EXPECT_EQ(formatSize(~0ull), "16384 PB");
    EXPECT_EQ(formatRate(434176), "424 KB/s");
}

TEST(TickSchedule, AnnouncesEvery20TicksWithForm1OnMultiplesOf80)
{
    int announces = 0, form1 = 0;
    for (std::uint32_t tick = 1; tick <= 160; ++tick) {
        const auto steps = stepsForTick(tick);
        announces += steps.announce;
        form1 += steps.announce && steps.announceForm == 1;
    }
    EXPECT_EQ(announces, 8);
    EXPECT_EQ(form1, 2);
    EXPECT_EQ(stepsForTick(60).announceForm, 0);
    EXPECT_EQ(stepsForTick(80).announceForm, 1);
}

TEST(TickSchedule, PeriodicStepsFallOnTheirMultiples)
{
    EXPECT_TRUE(stepsForTick(5).runScheduler);
    EXPECT_FALSE(stepsForTick(6).runScheduler);
    EXPECT_TRUE(stepsForTick(12).pollNetwork);
    EXPECT_FALSE(stepsForTick(18).pollNetwork);
    EXPECT_TRUE(stepsForTick(2400).rebuildShareIndex);
    EXPECT_FALSE(stepsForTick(1200).rebuildShareIndex);
    EXPECT_TRUE(stepsForTick(240).sweepIdleLinks);
    EXPECT_TRUE(stepsForTick(8).trimMemoryIfHidden);
}

TEST(NeighbourList, ListsTheLocalCopyAndNeighboursHeardWithin120Seconds)
{
    ManualClock clock;
    HostRecord local;
    local.identity[0] = 0xAA;
    local.setNickname("me");
    NeighbourTable table(clock, local);
    HostRecord a, b;
    a.identity[0] = 1;
    a.setNickname("old");
    b.identity[0] = 2;
    b.setNickname("fresh");
    table.merge(std::vector{a}, 0);
    clock.advanceSeconds(1);
    table.merge(std::vector{b}, 0);
    clock.advanceSeconds(120); // a is 121 s old, b exactly 120 s
    const auto rows = neighbourRows(table);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].nickname, "me");
    EXPECT_EQ(rows[0].identityHex, "aa000000000000000000000000000000");
    EXPECT_EQ(rows[1].nickname, "fresh");
}

TEST(LinkDump, OneLinePerSlotBetweenSeparators)
{
    std::vector<LinkSlotView> slots(3);
    slots[1] = {0, 17, Endpoint{0x0A000001, 1552}};
    slots[2] = {5, -1, Endpoint{0x0A000002, 4000}};
    EXPECT_EQ(linkDumpText(slots), "===============================\r\n"
                                   " 0. UDT=0, LinkSocket=-1\r\n"
                                   " 1. UDT=0, LinkSocket=17, 10.0.0.1:1552\r\n"
                                   " 2. UDT=5, LinkSocket=-1, 10.0.0.2:4000\r\n"
                                   "===============================\r\n");
}

namespace {
ControlRects templateRects()
{
    ControlRects saved;
    at(saved, LayoutControl::NeighbourList) = {10, 11, 99, 372};
    at(saved, LayoutControl::FileList) = {114, 11, 394, 315};
    at(saved, LayoutControl::SearchBox) = {10, 387, 99, 24};
    at(saved, LayoutControl::SettingsButton) = {510, 11, 25, 34};
    at(saved, LayoutControl::TaskList) = {114, 328, 394, 83};
    at(saved, LayoutControl::AboutButton) = {510, 47, 25, 34};
    return saved;
}
} // namespace

TEST(WindowLayout, ListsShareTheWindowAtAnySizeAndTheButtonsKeepToTheRightEdge)
{
    const ControlRects saved = templateRects();
    const ControlRects big = layoutControls(saved, 1600, 900);
    // Lists end where the buttons' gap begins; files and tasks split the height 3:2.
    EXPECT_EQ(at(big, LayoutControl::FileList), (Rect{114, 11, 1600 - 10 - 25 - 2 - 114, 527}));
    EXPECT_EQ(at(big, LayoutControl::TaskList), (Rect{114, 540, 1449, 350}));
    EXPECT_EQ(at(big, LayoutControl::NeighbourList), (Rect{10, 11, 99, 853}));
    EXPECT_EQ(at(big, LayoutControl::SearchBox), (Rect{10, 866, 99, 24}));
    EXPECT_EQ(at(big, LayoutControl::SettingsButton), (Rect{1565, 11, 25, 34}));
    EXPECT_EQ(at(big, LayoutControl::AboutButton), (Rect{1565, 47, 25, 34}));
    // Small, the task list keeps its template height; the file list keeps at least a third.
    EXPECT_EQ(at(layoutControls(saved, 560, 200), LayoutControl::TaskList).height, 83);
    EXPECT_EQ(at(layoutControls(saved, 560, 120), LayoutControl::FileList).height, 32);
}

TEST(WindowLayout, FirstColumnsTakeTheFreeWidth)
{
    ControlRects rects = templateRects();
    at(rects, LayoutControl::FileList).width = 60; // too narrow: at least 40
    at(rects, LayoutControl::NeighbourList).width = 99;
    at(rects, LayoutControl::TaskList).width = 394; // free -40: the floors hold
    ColumnWidths widths = columnWidths(rects);
    EXPECT_EQ(widths.fileName, 40);
    EXPECT_EQ(widths.neighbourName, 97);
    EXPECT_EQ(widths.taskName, 120);
    EXPECT_EQ(widths.taskInfo, 80);
    at(rects, LayoutControl::NeighbourList).width = 140;
    at(rects, LayoutControl::TaskList).width = 1405; // free 965
    widths = columnWidths(rects);
    EXPECT_EQ(widths.neighbourName, 125);
    EXPECT_EQ(widths.taskName, 250);
    EXPECT_EQ(widths.taskInfo, 965 - 250 - 28);
}
