#include <gtest/gtest.h>

#include <sstream>

#include "store/persist_version.h"

using namespace vandry;

TEST(PersistVersion, AcceptsVersionsFromExpectedUpWithinTheFirst1023Bytes)
{
    std::string text;
    writeVersionLine(text, 1);
    EXPECT_EQ(text, "V1\r\n");
    EXPECT_EQ(checkVersionLine("V1\r\nrest", 1), 4u);
    EXPECT_TRUE(checkVersionLine("X2\n", 1)) << "only the number after the first character counts";
    for (const char* rejected : {"V0\r\n", "V\r\n", "V-3\r\n", "V1", ""})
        EXPECT_FALSE(checkVersionLine(rejected, 1)) << rejected;
    EXPECT_TRUE(checkVersionLine("V99999999999999999999\n", 1)) << "a huge number must not overflow";

    const std::string within = "V1" + std::string(1020, ' ') + "\n"; // the feed is byte 1023
    EXPECT_EQ(checkVersionLine(within, 1), 1023u);
    EXPECT_FALSE(checkVersionLine(" " + within, 1));
    std::istringstream in(within + "next");
    EXPECT_TRUE(checkVersionLine(in, 1));
    std::string rest;
    in >> rest;
    EXPECT_EQ(rest, "next") << "the stream continues after the version line";
}
