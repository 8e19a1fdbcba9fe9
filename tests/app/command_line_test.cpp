#include <gtest/gtest.h>

#include "app/command_line.h"

using namespace vandry;

TEST(CommandLineTokens, QuotedProgramPathAloneCountsTwoTokens)
{
    const auto tokens = splitCommandLineTokens("\"/opt/vandry/vandry\"");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0], "/opt/vandry/vandry");
    EXPECT_EQ(tokens[1], "");
}

TEST(CommandLineTokens, MixesQuotedAndUnquotedTokens)
{
    const auto tokens = splitCommandLineTokens("  \"/a b/vandry\" -u \"/new dir/vandry\"  x");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[1], "-u");
    EXPECT_EQ(tokens[2], "/new dir/vandry");
    EXPECT_EQ(tokens[3], "x");
}

TEST(CommandLineTokens, QuotedTokenAtTheEndIsFollowedByAnEmptyOne)
{
    const auto tokens = splitCommandLineTokens("prog -u \"/t\"");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[3], "");
}

TEST(CommandLineTokens, UnterminatedQuoteDropsTheRestAsOneEmptyToken)
{
    const auto tokens = splitCommandLineTokens("prog \"never closed");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0], "prog");
    EXPECT_EQ(tokens[1], "");
}

TEST(CommandLineTokens, StopsAtTwentyTokens)
{
    std::string line;
    for (int i = 0; i < 30; ++i)
        line += "t" + std::to_string(i) + " ";
    EXPECT_EQ(splitCommandLineTokens(line).size(), kMaxCommandLineTokens);
    std::string quoted;
    for (int i = 0; i < 30; ++i)
        quoted += "\"q\" ";
    EXPECT_EQ(splitCommandLineTokens(quoted).size(), kMaxCommandLineTokens);
}

TEST(CommandLineReader, OrdinaryStartsRunNormally)
{
    EXPECT_EQ(readCommandLine("\"/usr/bin/vandry\"").kind, StartKind::Ordinary);
    EXPECT_EQ(readCommandLine("vandry").kind, StartKind::Ordinary); // one token
    EXPECT_TRUE(readCommandLine("\"/usr/bin/vandry\"").targetPath.empty());
}

TEST(CommandLineReader, AutoSuffixSkipsTheReaderEvenWithOtherArguments)
{
    const auto d = readCommandLine("\"/usr/bin/vandry\" -u /x -auto");
    EXPECT_TRUE(d.autoStart);
    EXPECT_EQ(d.kind, StartKind::Ordinary);
    EXPECT_TRUE(d.targetPath.empty());
    // Case-sensitive, and only at the very end.
    EXPECT_EQ(readCommandLine("vandry -AUTO").kind, StartKind::HandOver);
    EXPECT_FALSE(readCommandLine("vandry -auto ").autoStart);
}

TEST(CommandLineReader, UpgradeFlagNamesTheTarget)
{
    const auto d = readCommandLine("\"/usr/bin/vandry\" -U \"/home/u/new vandry\"");
    EXPECT_EQ(d.kind, StartKind::HandOver);
    EXPECT_EQ(d.targetPath, "/home/u/new vandry");
}

TEST(CommandLineReader, UpgradeFlagWithoutTargetNamesItselfAsTarget)
{
    // Two tokens: "-u" is not followed by a path, so token 1 becomes the target.
    const auto d = readCommandLine("vandry -u");
    EXPECT_EQ(d.kind, StartKind::HandOver);
    EXPECT_EQ(d.targetPath, "-u");
}

TEST(CommandLineReader, RelaunchFlagWaitsAndExits)
{
    const auto d = readCommandLine("vandry -r");
    EXPECT_EQ(d.kind, StartKind::Exit);
    EXPECT_TRUE(d.openTargetAfterDelay);
    // With more tokens "-r" is just a target path.
    EXPECT_EQ(readCommandLine("vandry -r x").kind, StartKind::HandOver);
}

TEST(CommandLineReader, SingleArgumentIsTheTargetPath)
{
    const auto d = readCommandLine("\"/usr/bin/vandry\" /tmp/UpFile1");
    EXPECT_EQ(d.kind, StartKind::HandOver);
    EXPECT_EQ(d.targetPath, "/tmp/UpFile1");
}

TEST(CommandLineJoin, QuotesTheProgramAndBlankArguments)
{
    EXPECT_EQ(joinCommandLine("/a b/vandry", {}), "\"/a b/vandry\"");
    EXPECT_EQ(joinCommandLine("/v", {"-u", "/new dir/v", ""}), "\"/v\" -u \"/new dir/v\" \"\"");
    const auto d = readCommandLine(joinCommandLine("/v", {"-auto"}));
    EXPECT_TRUE(d.autoStart);
}
