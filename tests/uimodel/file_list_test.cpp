#include <gtest/gtest.h>

#include "file_list_payloads.h"
#include "ui/file_list.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
std::vector<std::string> childNames(const FileItem& item)
{
    std::vector<std::string> names;
    for (const auto& child : item.children)
        names.push_back(child->name);
    return names;
}

const FileItem& child(const FileItem& item, const std::string& name)
{
    for (const auto& c : item.children)
        if (c->name == name)
            return *c;
    throw std::runtime_error("no child " + name);
}

struct FileListTest : ::testing::Test {
    // alice's share root: a folder "docs" listed before the files, which the tree shows first.
    void browseAliceRoot()
    {
        ASSERT_TRUE(files.showBrowseReply(browseReply(
            -1, alice, "\\", {listingFolder("docs"), listingFile("a.txt", 2048), listingFile("b.bin", 3 << 20, 1)})));
    }
    const FileItem& top() const { return *files.roots().at(0); }

    HostRecord alice = fileHost("alice", 0xA1);
    HostRecord bob = fileHost("bob", 0xB2);
    FileList files;
};
} // namespace

TEST_F(FileListTest, BrowseOfAShareRootShowsFilesFirstThenFolders)
{
    browseAliceRoot();
    ASSERT_EQ(files.roots().size(), 1u);
    EXPECT_EQ(top().name, "\\");
    EXPECT_EQ(top().path, "\\");
    EXPECT_EQ(top().host, hostRecordHex(alice));
    EXPECT_EQ(top().icon, FileIcon::Folder);
    EXPECT_TRUE(top().expanded);
    EXPECT_EQ(childNames(top()), (std::vector<std::string>{"a.txt", "b.bin", "docs"}));
    EXPECT_EQ(child(top(), "a.txt").size, "2.0 KB");
    EXPECT_EQ(child(top(), "b.bin").size, "3.0 MB");
    EXPECT_EQ(child(top(), "docs").size, "");
    EXPECT_EQ(child(top(), "docs").icon, FileIcon::Folder);
    EXPECT_EQ(child(top(), "a.txt").icon, FileIcon::File);
    EXPECT_EQ(files.itemCount(), 4u);
}

TEST_F(FileListTest, ListingOfASubfolderGoesUnderTheItemItsRequestNamed)
{
    browseAliceRoot();
    const FileItem& docs = child(top(), "docs");
    EXPECT_EQ(files.find(docs.id), &docs);
    const auto before = files.revision();
    ASSERT_TRUE(files.showBrowseReply(
        browseReply(docs.id, alice, "\\docs\\", {listingFolder("old"), listingFile("notes.txt", 10, 1)})));
    EXPECT_GT(files.revision(), before);
    EXPECT_EQ(childNames(docs), (std::vector<std::string>{"notes.txt", "old"}));
    EXPECT_EQ(child(docs, "notes.txt").parent, &docs);
    EXPECT_TRUE(docs.expanded);
    EXPECT_EQ(files.roots().size(), 1u);

    // The same listing again (two double clicks before the answer) replaces the first.
    ASSERT_TRUE(files.showBrowseReply(browseReply(docs.id, alice, "\\docs\\", {listingFile("notes.txt", 10, 1)})));
    EXPECT_EQ(childNames(docs), (std::vector<std::string>{"notes.txt"}));
    EXPECT_EQ(files.itemCount(), 5u);
}

TEST_F(FileListTest, ListingForAnItemNoLongerShownIsIgnored)
{
    browseAliceRoot();
    const std::int32_t oldDocs = child(top(), "docs").id;
    ASSERT_TRUE(files.showBrowseReply(browseReply(-1, bob, "\\music\\", {listingFile("x.mp3", 1, 1)})));
    EXPECT_EQ(top().name, "music");
    EXPECT_EQ(files.find(oldDocs), nullptr);
    const auto before = files.revision();
    EXPECT_FALSE(files.showBrowseReply(browseReply(oldDocs, alice, "\\docs\\", {listingFile("n.txt", 1, 1)})));
    EXPECT_FALSE(files.showBrowseReply(browseReply(123456, alice, "\\docs\\", {listingFile("n.txt", 1, 1)})));
    // A file holds no listing.
    EXPECT_FALSE(
        files.showBrowseReply(browseReply(child(top(), "x.mp3").id, alice, "\\x.mp3\\", {listingFile("n.txt", 1, 1)})));
    EXPECT_EQ(files.revision(), before);
    EXPECT_EQ(files.itemCount(), 2u);
}

TEST_F(FileListTest, WalkEndsAfterTheRecordMarkedLast)
{
    ASSERT_TRUE(files.showBrowseReply(
        browseReply(-1, alice, "\\",
                    {listingFile("one", 1), listingFolder("two", 1), listingFile("beyond", 1), listingFolder("b")})));
    EXPECT_EQ(childNames(top()), (std::vector<std::string>{"one", "two"}));
}

TEST_F(FileListTest, NamesFromTheSharerAreMadeSafeToShowAndToUseAsPaths)
{
    ASSERT_TRUE(
        files.showBrowseReply(browseReply(-1, alice, "\\",
                                          {listingFile("bad\xFFname", 1), listingFile("..", 1), listingFolder("a\\b"),
                                           listingFolder("c/d"), listingFile("", 1, 0), listingFolder("音乐", 1)})));
    EXPECT_EQ(childNames(top()), (std::vector<std::string>{"bad\xEF\xBF\xBDname", "音乐"}));
}

TEST_F(FileListTest, MalformedListingsChangeNothingOrStopTheWalk)
{
    browseAliceRoot();
    const auto before = files.revision();
    auto reply = browseReply(-1, bob, "\\", {listingFile("x", 1, 1)});
    // Cut inside the header, and a header length beyond the payload.
    EXPECT_FALSE(files.showBrowseReply(ByteSpan(reply).first(60)));
    auto longHeader = reply;
    storeU16le(longHeader, 0, static_cast<std::uint16_t>(reply.size() + 1));
    EXPECT_FALSE(files.showBrowseReply(longHeader));
    EXPECT_EQ(files.revision(), before);
    EXPECT_EQ(top().host, hostRecordHex(alice));

    // Records: one that is fine, then one that is too short, runs past the end or has no zero.
    const auto good = browseReply(-1, bob, "\\", {listingFile("kept", 1)});
    for (const std::vector<std::uint8_t>& bad :
         {std::vector<std::uint8_t>{16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
          std::vector<std::uint8_t>{200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'x', 0},
          std::vector<std::uint8_t>{18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'x', 'y'}}) {
        auto bytes = good;
        bytes.insert(bytes.end(), bad.begin(), bad.end());
        const auto next = browseReply(-1, bob, "\\", {listingFile("never", 1)});
        bytes.insert(bytes.end(), next.begin() + 70, next.end()); // a good record after the bad one
        ASSERT_TRUE(files.showBrowseReply(bytes));
        EXPECT_EQ(childNames(top()), (std::vector<std::string>{"kept"}));
    }
}

namespace {
// bob shares c:\base\share. The answer holds the base path's folders and the share as ancestors,
// two matched folders (music with 3 files of which 2 are listed, and video with its 1 file) and
// their subfolders.
std::vector<std::uint8_t> bobAnswer(std::uint8_t baseLength, const HostRecord& host)
{
    return searchAnswer(baseLength, host,
                        {
                            {"c:", -1, 0, kMarkAncestor},   // 0
                            {"base", 0, 0, kMarkAncestor},  // 1
                            {"share", 1, 0, kMarkAncestor}, // 2
                            {"music", 2, 3, kMarkMatched},  // 3
                            {"live", 3, 0, kMarkSubfolder}, // 4
                            {"demos", 3, 0, kMarkSubfolder},
                            {"video", 2, 1, kMarkMatched}, // 6
                        },
                        {{"song.mp3", 3, 5000}, {"a", 3, 100}, {"clip.avi", 6, 2 << 20}});
}
} // namespace

TEST_F(FileListTest, SearchAnswerAddsARootWithTheMatchedFolders)
{
    ASSERT_TRUE(files.showSearchReply(bobAnswer(8, bob))); // "c:\base\" is 8 characters
    ASSERT_EQ(files.roots().size(), 1u);
    const FileItem& root = top();
    EXPECT_EQ(root.name, "bob");
    EXPECT_EQ(root.icon, FileIcon::Drive);
    EXPECT_TRUE(root.size.empty() && root.path.empty() && root.host.empty());
    EXPECT_TRUE(root.expanded);
    EXPECT_EQ(childNames(root), (std::vector<std::string>{"music", "video"}));

    const FileItem& music = child(root, "music");
    EXPECT_EQ(music.path, "\\share\\music");
    EXPECT_EQ(music.host, hostRecordHex(bob));
    EXPECT_EQ(music.icon, FileIcon::Folder);
    EXPECT_FALSE(music.expanded);
    EXPECT_EQ(childNames(music), (std::vector<std::string>{"song.mp3", "a", "......", "live", "demos"}));
    EXPECT_EQ(child(music, "song.mp3").size, "4.9 KB");
    EXPECT_EQ(child(music, "a").size, "100 B");
    EXPECT_EQ(child(music, "......").icon, FileIcon::Folder);
    const FileItem& live = child(music, "live");
    EXPECT_TRUE(live.path.empty() && live.host.empty() && live.size.empty());

    const FileItem& video = child(root, "video");
    EXPECT_EQ(video.path, "\\share\\video");
    EXPECT_EQ(childNames(video), (std::vector<std::string>{"clip.avi"}));
    EXPECT_EQ(files.itemCount(), 9u);
}

TEST_F(FileListTest, EveryAnswerAddsItsOwnRoot)
{
    ASSERT_TRUE(files.showSearchReply(bobAnswer(8, bob)));
    ASSERT_TRUE(files.showSearchReply(bobAnswer(8, alice)));
    ASSERT_EQ(files.roots().size(), 2u);
    EXPECT_EQ(files.roots()[1]->name, "alice");
    EXPECT_EQ(child(*files.roots()[1], "music").host, hostRecordHex(alice));
}

TEST_F(FileListTest, ByteThreeStripsThePathAndItsBitFourOpensTheMatchedFolders)
{
    ASSERT_TRUE(files.showSearchReply(bobAnswer(17, bob)));
    const FileItem& music = child(top(), "music");
    EXPECT_TRUE(music.expanded);
    EXPECT_EQ(music.path, "sic"); // "\c:\base\share\music" less 17 characters
    // A path shorter than the count stays whole.
    files.clear();
    ASSERT_TRUE(files.showSearchReply(bobAnswer(200, bob)));
    EXPECT_EQ(child(top(), "music").path, "\\c:\\base\\share\\music");
}

TEST_F(FileListTest, NicknameFromAnotherMachineIsMadeValidText)
{
    HostRecord odd = bob;
    odd.hosting = {'b', 0xC3, 0x28, 'b', 0};
    ASSERT_TRUE(files.showSearchReply(bobAnswer(8, odd)));
    EXPECT_EQ(top().name, "b\xEF\xBF\xBD(b");
}

TEST_F(FileListTest, MalformedAnswersChangeNothing)
{
    ASSERT_TRUE(files.showSearchReply(bobAnswer(8, bob)));
    const auto before = files.revision();
    const auto good = bobAnswer(8, alice);
    const std::size_t fileLength = loadU16le(good, 4);
    const std::size_t folderLength = loadU16le(good, 6);
    const std::size_t folderRecords = 74 + 2 * fileLength + folderLength;
    const std::size_t fileRecords = 70 + fileLength;

    std::vector<std::vector<std::uint8_t>> bad;
    bad.push_back(std::vector<std::uint8_t>(good.begin(), good.end() - 1)); // the last area cut
    bad.push_back(std::vector<std::uint8_t>(good.begin(), good.begin() + 40));
    auto parentOutside = good; // "base" points past the folder part
    parentOutside[folderRecords + 5 + 1] = 0xF0;
    bad.push_back(parentOutside);
    auto parentInside = good; // "base" points into the middle of an entry
    parentInside[folderRecords + 5 + 1] = 2;
    bad.push_back(parentInside);
    auto cycle = good; // "c:" becomes the child of "share", whose chain leads back to it
    cycle[folderRecords + 1] = 10;
    cycle[folderRecords + 2] = 0;
    cycle[folderRecords + 3] = 0;
    bad.push_back(cycle);
    auto selfParent = good; // "base" is its own parent
    selfParent[folderRecords + 5 + 1] = 5;
    bad.push_back(selfParent);
    auto zeroStride = good;
    zeroStride[folderRecords] = 0;
    bad.push_back(zeroStride);
    auto longStride = good;
    longStride[fileRecords] = 0xFF;
    bad.push_back(longStride);
    auto fileParent = good; // the first file's parent names no folder
    fileParent[fileRecords + 1] = 1;
    bad.push_back(fileParent);
    auto hugeCounts = good;
    storeU16le(hugeCounts, 4, 0xFFFF);
    bad.push_back(hugeCounts);

    for (const auto& bytes : bad)
        EXPECT_FALSE(files.showSearchReply(bytes));
    EXPECT_EQ(files.revision(), before);
    EXPECT_EQ(files.roots().size(), 1u);
}

TEST_F(FileListTest, SelectionOfBrowseItems)
{
    browseAliceRoot();
    const FileItem& docs = child(top(), "docs");
    ASSERT_TRUE(files.showBrowseReply(browseReply(docs.id, alice, "\\docs\\", {listingFile("a b.txt", 10, 1)})));

    const FileSelection file = files.selectionFor(child(docs, "a b.txt"), "/home/u/dl/");
    EXPECT_FALSE(file.isDirectory);
    EXPECT_FALSE(file.hasChildren);
    EXPECT_TRUE(file.hostKnown);
    EXPECT_EQ(file.host, alice);
    EXPECT_EQ(file.record.directory, 0);
    EXPECT_EQ(file.record.remotePath, "\\docs\\a b.txt"); // "\" + "\docs\a b.txt", doubled separator collapsed
    EXPECT_EQ(file.record.localPath, "/home/u/dl/a b.txt");

    const FileSelection folder = files.selectionFor(docs, "/home/u/dl/");
    EXPECT_TRUE(folder.isDirectory);
    EXPECT_TRUE(folder.hasChildren);
    EXPECT_EQ(folder.record.directory, 1);
    EXPECT_EQ(folder.record.remotePath, "\\docs\\");
    EXPECT_EQ(folder.record.localPath, "/home/u/dl/docs/");

    // The share itself goes straight into the download root.
    const FileSelection share = files.selectionFor(top(), "/home/u/dl/");
    EXPECT_EQ(share.record.remotePath, "\\");
    EXPECT_EQ(share.record.localPath, "/home/u/dl/");

    // A download root without its final separator still gives a path inside it.
    EXPECT_EQ(files.selectionFor(docs, "/home/u/dl").record.localPath, "/home/u/dl/docs/");
}

TEST_F(FileListTest, SelectionUnderASearchResultTakesTheMatchedFoldersPathAndHost)
{
    ASSERT_TRUE(files.showSearchReply(bobAnswer(8, bob)));
    const FileItem& music = child(top(), "music");

    const FileSelection song = files.selectionFor(child(music, "song.mp3"), "/dl/");
    EXPECT_TRUE(song.hostKnown);
    EXPECT_EQ(song.host, bob);
    EXPECT_EQ(song.record.remotePath, "\\share\\music\\song.mp3");
    EXPECT_EQ(song.record.localPath, "/dl/song.mp3");

    const FileSelection live = files.selectionFor(child(music, "live"), "/dl/");
    EXPECT_TRUE(live.isDirectory);
    EXPECT_FALSE(live.hasChildren);
    EXPECT_EQ(live.record.remotePath, "\\share\\music\\live\\");
    EXPECT_EQ(live.record.localPath, "/dl/live/");

    const FileSelection matched = files.selectionFor(music, "/dl/");
    EXPECT_EQ(matched.record.remotePath, "\\share\\music\\");
    EXPECT_EQ(matched.record.localPath, "/dl/music/");
    EXPECT_EQ(matched.host, bob);
}

TEST_F(FileListTest, SelectionOfASearchRootOnlyKnowsItsHostThroughItsFirstFolder)
{
    ASSERT_TRUE(files.showSearchReply(bobAnswer(8, bob)));
    const FileSelection root = files.selectionFor(top(), "/dl/");
    EXPECT_FALSE(root.hostKnown);
    EXPECT_TRUE(root.hasChildren);
    EXPECT_EQ(root.host, bob);

    // An answer whose folders all lack a usable name leaves a root without children or host.
    files.clear();
    ASSERT_TRUE(files.showSearchReply(searchAnswer(0, bob, {{"..", -1, 0, kMarkMatched}}, {})));
    const FileSelection bare = files.selectionFor(top(), "/dl/");
    EXPECT_FALSE(bare.hostKnown);
    EXPECT_EQ(bare.host, HostRecord{});
}

TEST_F(FileListTest, FolderTooDeepForAnyRequestIsLeftOut)
{
    std::vector<AnswerFolderSpec> chain;
    for (int i = 0; i < 200; ++i) // 7 characters a level: the last levels pass 1024
        chain.push_back({"folder", i - 1, 0, kMarkAncestor});
    chain[100].mark = kMarkMatched;
    chain[199].mark = kMarkMatched;
    ASSERT_TRUE(files.showSearchReply(searchAnswer(0, bob, chain, {})));
    ASSERT_EQ(top().children.size(), 1u);
    EXPECT_EQ(top().children[0]->path.size(), 101u * 7);
}
