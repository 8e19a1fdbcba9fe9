#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/clock.h"
#include "common/event_log.h"
#include "scratch_folder.h"

using namespace vandry;

namespace {
std::string contents(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

TEST(EventLog, AFloodIsDroppedAndCountedOnceTheRateAllowsAgain)
{
    vandry::testing::ScratchFolder scratch;
    ManualClock clock;
    EventLog log(&clock);
    ASSERT_TRUE(log.open(scratch.path() / "EVT.TXT"));
    const std::string line(1000, 'x');
    for (int i = 0; i < 2000; ++i)
        log.append(line + "\r\n");
    const auto burst = contents(scratch.path() / "EVT.TXT").size();
    EXPECT_LE(burst, static_cast<std::size_t>(EventLog::kBurstBytes));
    EXPECT_GT(burst, static_cast<std::size_t>(EventLog::kBurstBytes) - 1002);
    clock.advanceMs(1000);
    log.append("after\r\n");
    const auto text = contents(scratch.path() / "EVT.TXT");
    EXPECT_TRUE(text.ends_with("(954 entries dropped: too many at once)\r\nafter\r\n")) << text.substr(burst);
}

TEST(EventLog, AFullFileMovesAsideAndANewOneStarts)
{
    vandry::testing::ScratchFolder scratch;
    ManualClock clock;
    EventLog log(&clock);
    const auto path = scratch.path() / "EVT.TXT";
    ASSERT_TRUE(log.open(path));
    const std::string chunk(64 << 10, 'y');
    std::uint64_t written = 0;
    while (written < 2 * EventLog::kMaxFileBytes) {
        clock.advanceSeconds(1);
        log.append(chunk);
        written += chunk.size();
    }
    EXPECT_LE(std::filesystem::file_size(path), EventLog::kMaxFileBytes);
    EXPECT_EQ(std::filesystem::file_size(scratch.path() / "EVT.TXT.1"), EventLog::kMaxFileBytes);
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "EVT.TXT.2"));
}
