#include <gtest/gtest.h>

#include "tasks/task_list.h"

using namespace vandry;

namespace {
TaskRecord record(const std::string& local, const std::string& remote = "\\dir\\file.bin")
{
    TaskRecord r;
    r.localPath = local;
    r.remotePath = remote;
    r.attribute = 3;
    return r;
}

HostIdentity id(std::uint8_t n)
{
    HostIdentity i{};
    i[15] = n;
    return i;
}

TransferEvent event(const HostIdentity& task, std::string text)
{
    TransferEvent e;
    e.taskId = task;
    e.text = std::move(text);
    return e;
}

struct TaskListTest : ::testing::Test {
    int links = 1;
    TaskList list{[this](const HostIdentity&) { return links; }};
};
} // namespace

TEST_F(TaskListTest, NewRowsShowTheirProgressCode)
{
    list.addTaskRow(record("/dl/a.bin"), id(1), "host", kProgressUnknown, 0);
    list.addTaskRow(record("/dl/b.bin"), id(2), "host", 37, 0);
    list.addTaskRow(record("/dl/c.bin"), id(3), "host", kProgressFinished, 0);
    list.addTaskRow(record("/dl/d.bin"), id(4), "host", kProgressNew, 0);
    const auto& rows = list.rows();
    EXPECT_EQ(rows[0][kTaskState], kStateHistory);
    EXPECT_EQ(rows[0][kTaskProgress], "N/A");
    EXPECT_EQ(rows[1][kTaskProgress], "37%");
    EXPECT_EQ(rows[2][kTaskState], kStateFinished);
    EXPECT_EQ(rows[2][kTaskProgress], "100%");
    EXPECT_EQ(rows[3][kTaskState], kStateWaiting);
    EXPECT_EQ(rows[3][kTaskProgress], "");
    EXPECT_EQ(rows[3][kTaskName], "d.bin");
    EXPECT_EQ(rows[3][kTaskIdentity], identityText(id(4)));
    EXPECT_EQ(rows[3][kTaskScheduled], "0");
    EXPECT_EQ(rows[3][kTaskAttribute], "3");
}

TEST_F(TaskListTest, SameLocalPathReusesTheRowAndItsIdentity)
{
    list.addTaskRow(record("/dl/a.bin"), id(1), "hostA", kProgressNew, 0);
    const AddedTask again = list.addTaskRow(record("/dl/a.bin"), id(9), "hostB", kProgressNew, 0);
    EXPECT_TRUE(again.existed);
    EXPECT_EQ(again.row, 0u);
    EXPECT_EQ(again.identity, id(1));
    EXPECT_TRUE(again.hostDiffers);
    EXPECT_EQ(list.rows().size(), 1u);
    EXPECT_FALSE(list.addTaskRow(record("/dl/a.bin"), id(9), "hostA", kProgressNew, 0).hostDiffers);
}

TEST_F(TaskListTest, FolderTasksAreNamedByTheirLastComponent)
{
    list.addTaskRow(record("/dl/music/"), id(1), "h", kProgressNew, 0);
    EXPECT_EQ(list.rows()[0][kTaskName], "music");
    EXPECT_TRUE(TaskList::isDirectoryTask(list.rows()[0]));
}

TEST_F(TaskListTest, EventsChangeTheRowsOfTheirTask)
{
    list.addTaskRow(record("/dl/a.bin"), id(1), "h", kProgressNew, 0);
    list.setScheduled(0, true);
    list.onTaskEvent(event(id(1), "准备传输"), EventType::Status);
    EXPECT_EQ(list.rows()[0][kTaskState], "准备传输");
    list.onTaskEvent(event(id(1), "/dl/a.bin"), EventType::FileOpened);
    EXPECT_EQ(list.rows()[0][kTaskState], kStateTransferring);
    EXPECT_EQ(list.rows()[0][kTaskInfo], "/dl/a.bin");
    list.onTaskEvent(event(id(2), "other task"), EventType::PeerFailed);
    EXPECT_EQ(list.rows()[0][kTaskState], kStateTransferring);
    list.onTaskEvent(event(id(1), "结束传输"), EventType::TransferEnded);
    EXPECT_EQ(list.rows()[0][kTaskState], kStateFinished);
    EXPECT_EQ(list.rows()[0][kTaskProgress], "100%");
    EXPECT_EQ(list.rows()[0][kTaskScheduled], "0");
}

TEST_F(TaskListTest, OneLinksNewsIsNotTheStateOfATaskWithTwoLinks)
{
    list.addTaskRow(record("/dl/a.bin"), id(1), "h", kProgressNew, 0);
    links = 2;
    list.onTaskEvent(event(id(1), "网络断开"), EventType::NetworkLost);
    EXPECT_EQ(list.rows()[0][kTaskState], kStateWaiting);
    list.onTaskEvent(event(id(1), "peer says no"), EventType::PeerFailed);
    EXPECT_EQ(list.rows()[0][kTaskState], "peer says no");
}

TEST_F(TaskListTest, ProgressAndSmoothedRateOfScheduledTransfers)
{
    list.addTaskRow(record("/dl/a.bin"), id(1), "h", kProgressNew, 0);
    list.addTaskRow(record("/dl/idle.bin"), id(2), "h", kProgressNew, 0); // not scheduled
    list.setScheduled(0, true);
    std::uint32_t rate = 0, previous = 0, idleRate = 0, idlePrevious = 0;
    list.updateProgress({{id(1), 1000, 300, &rate, &previous}, {id(2), 10, 5, &idleRate, &idlePrevious}});
    EXPECT_EQ(list.rows()[0][kTaskProgress], "30%");
    EXPECT_EQ(rate, 200u); // (0 + 2 * 300) / 3
    EXPECT_EQ(list.rows()[0][kTaskRate], "200 KB/s");
    EXPECT_EQ(list.rows()[1][kTaskRate], "");
    // A counter that went down (a restart) adds nothing: the rate decays by a third.
    list.updateProgress({{id(1), 1000, 100, &rate, &previous}});
    EXPECT_EQ(rate, 66u);
    EXPECT_EQ(previous, 100u);
}

TEST_F(TaskListTest, FiguresShowSizeTimeLeftAndSourcesWhileRunningAndNoRateAfter)
{
    links = 3;
    list.addTaskRow(record("/dl/a.bin"), id(1), "h", kProgressNew, 0);
    list.setScheduled(0, true);
    EXPECT_EQ(list.figures(identityText(id(1))), nullptr);
    std::uint32_t rate = 0, previous = 0;
    list.updateProgress({{id(1), 65536, 3000, &rate, &previous, 65536ull * 1024 - 100}});
    const TaskFigures* figures = list.figures(identityText(id(1)));
    ASSERT_NE(figures, nullptr);
    EXPECT_EQ(sizeProgressText(*figures), "2.9 MB / 64 MB");
    EXPECT_EQ(figures->sources, 3);
    EXPECT_EQ(remainingTimeText(*figures), "0:32"); // 62,536 KiB left at 2,000 KiB/s
    rate = 1;
    list.updateProgress({{id(1), 65536, 3000, &rate, &previous, 65536ull * 1024 - 100}});
    EXPECT_EQ(remainingTimeText(*figures), ""); // stalled
    EXPECT_EQ(list.rows()[0][kTaskRate], "0 B/s");

    list.updateProgress({});
    EXPECT_FALSE(figures->running);
    EXPECT_EQ(list.rows()[0][kTaskRate], "");
    EXPECT_EQ(sizeProgressText(*figures), "2.9 MB / 64 MB"); // the size stays known
    EXPECT_EQ(remainingTimeText({0, 10'000'000'000, 1000, 1, true}), "2777:46:40");
}

TEST_F(TaskListTest, ProgressOfHugeFilesDoesNotWrap)
{
    list.addTaskRow(record("/dl/big.iso"), id(1), "h", kProgressNew, 0);
    list.setScheduled(0, true);
    std::uint32_t rate = 0, previous = 0;
    list.updateProgress({{id(1), 100'000'000, 99'000'000, &rate, &previous}});
    EXPECT_EQ(list.rows()[0][kTaskProgress], "99%");
}
