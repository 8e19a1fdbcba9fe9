#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "qt/qt_event_loop.h"
#include "qt_test_main.h"

using namespace vandry;
using namespace std::chrono_literals;
using vandry::testing::runUntil;

namespace {
// Lets a stopped timer prove it stays quiet: runs events until a second timer has ticked several periods.
void runForTicks(QtEventLoop& loop, int ticks)
{
    auto witness = loop.createTimer();
    int seen = 0;
    witness->start(5ms, [&] { ++seen; });
    ASSERT_TRUE(runUntil([&] { return seen >= ticks; }));
}
} // namespace

TEST(QtEventLoop, TimerRepeatsUntilStoppedAndARestartReplacesTheCallback)
{
    QtEventLoop loop;
    auto timer = loop.createTimer();
    int first = 0;
    int second = 0;
    timer->start(5ms, [&] { ++first; });
    timer->start(5ms, [&] {
        if (++second == 3)
            timer->stop();
    });
    ASSERT_TRUE(runUntil([&] { return second == 3; }));
    runForTicks(loop, 5);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 3);
}

TEST(QtEventLoop, PostFromAnotherThreadRunsInOrderOnTheLoopThread)
{
    QtEventLoop loop;
    std::vector<int> ran;
    bool onLoopThread = true;
    const auto loopThread = std::this_thread::get_id();
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            loop.post([&, i] {
                ran.push_back(i);
                onLoopThread = onLoopThread && std::this_thread::get_id() == loopThread;
            });
    });
    poster.join();
    ASSERT_TRUE(runUntil([&] { return ran.size() == 100; }));
    EXPECT_TRUE(onLoopThread);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(ran[i], i);
}

TEST(QtEventLoop, WorkStillQueuedWhenTheLoopIsDestroyedIsDropped)
{
    bool ran = false;
    bool later = false;
    {
        QtEventLoop doomed;
        doomed.post([&] { ran = true; });
    }
    QtEventLoop loop;
    loop.post([&] { later = true; });
    ASSERT_TRUE(runUntil([&] { return later; }));
    EXPECT_FALSE(ran);
}
