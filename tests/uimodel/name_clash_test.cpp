#include <gtest/gtest.h>

#include "scratch_folder.h"
#include "ui/name_clash.h"

using namespace vandry;
using namespace vandry::testing;

TEST(NameClashTest, GoingOnIsOfferedOnlyForAFileOrAPartialDownloadOfTheSharersSize)
{
    ScratchFolder scratch;
    ResumeStore resume(scratch.path() / "resume");
    const std::string song = (scratch.path() / "song.mp3").string();
    EXPECT_FALSE(findNameClash(song, 3000, resume));

    writeFile(song, pattern(0, 3000));
    auto clash = findNameClash(song, 3000, resume);
    ASSERT_TRUE(clash);
    EXPECT_TRUE(clash->mayResume);
    EXPECT_EQ(clash->keepBothPath, (scratch.path() / "song (2).mp3").string());
    EXPECT_FALSE(findNameClash(song, 3001, resume)->mayResume);

    // A partial download is judged by the size its record names, not by its length on disk.
    FileInfoBlock info;
    info.setDigest("0123456789abcdef0123456789abcdef");
    info.describe(102400);
    ASSERT_TRUE(resume.save({song, info, BlockMap::whole(2)}));
    EXPECT_TRUE(findNameClash(song, 102400, resume)->mayResume);
    EXPECT_FALSE(findNameClash(song, 3000, resume)->mayResume);
}

TEST(NameClashTest, KeepingBothCountsUpPastTakenNames)
{
    ScratchFolder scratch;
    writeFile((scratch.path() / "song (2).mp3").string(), {});
    writeFile((scratch.path() / "song (3).mp3").string(), {});
    EXPECT_EQ(freeNameBeside((scratch.path() / "song.mp3").string()), (scratch.path() / "song (4).mp3").string());
    EXPECT_EQ(freeNameBeside((scratch.path() / "README").string()), (scratch.path() / "README (2)").string());
}
