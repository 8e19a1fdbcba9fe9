// The finisher puts whole staged files in their place on its own thread and reports back only on
// the event loop's thread.

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <vector>

#include "link/staged_file_finisher.h"
#include "link/stream_table.h"
#include "scratch_folder.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

// Posted work waits until the test runs it, as work posted to a real loop waits for its thread.
class QueuedLoop final : public EventLoop {
public:
    std::unique_ptr<Timer> createTimer() override { return nullptr; }
    void post(std::function<void()> work) override { queue.push_back(std::move(work)); }
    void runPosted()
    {
        for (; !queue.empty(); queue.pop_front())
            queue.front()();
    }
    std::deque<std::function<void()>> queue;
};

StagedFile stagedFile(const std::string& staged, const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    writeFile(staged, bytes);
    return {PosixFile::open(staged, PosixFile::Mode::ReadWrite), staged, path};
}

} // namespace

// Files handed over together are synced together; each outcome still comes in order.
TEST(StagedFileFinisher, PlacesFilesInOrderAndRemovesOneThatCannotBePlaced)
{
    ScratchFolder scratch;
    QueuedLoop loop;
    std::vector<std::pair<std::string, bool>> outcomes, expected;
    const std::vector<std::uint8_t> bytes(3000, 7);
    {
        StagedFileFinisher finisher(loop, SerialWorker::Mode::Thread);
        for (int i = 0; i < 12; ++i) {
            // One has no folder to go to: its rename fails.
            const auto path = scratch.file(i == 5 ? "missing/f5" : "f" + std::to_string(i));
            finisher.place(stagedFile(scratch.file("f" + std::to_string(i) + ".part~"), path, bytes),
                           [&outcomes, path](bool ok) { outcomes.emplace_back(path, ok); });
            expected.emplace_back(path, i != 5);
        }
        finisher.drain();
        EXPECT_TRUE(outcomes.empty()); // nothing is reported off the loop's thread
    }
    loop.runPosted();
    EXPECT_EQ(outcomes, expected);
    for (int i = 0; i < 12; ++i) {
        EXPECT_FALSE(std::filesystem::exists(scratch.file("f" + std::to_string(i) + ".part~"))) << i;
        if (i != 5) {
            EXPECT_EQ(readFile(scratch.file("f" + std::to_string(i))), bytes) << i;
        }
    }
}
