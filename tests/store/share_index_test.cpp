#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "common/text.h"
#include "scratch_folder.h"
#include "store/share_index.h"

using namespace vandry;
using vandry::testing::ScratchFolder;
using vandry::testing::writeFile;

namespace {

constexpr std::uint8_t kUntouched = 0xEE;

// One entry of an answer part, read back from the bytes.
struct Entry {
    std::uint32_t position = 0;
    std::string padded; // the name with its padding
    std::string name;   // without it
    std::uint32_t parent = 0;
    std::uint8_t mark = 0;
    std::uint8_t fileCount = 0;
    std::uint32_t size = 0;
};

struct Answer {
    std::uint8_t rootTextLength = 0;
    std::size_t blockSize = 0;
    std::vector<Entry> files;
    std::vector<Entry> folders;

    const Entry* folderAt(std::uint32_t position) const
    {
        for (const auto& folder : folders) {
            if (folder.position == position)
                return &folder;
        }
        return nullptr;
    }
    const Entry* folder(const std::string& name) const
    {
        for (const auto& folder : folders) {
            if (folder.name == name)
                return &folder;
        }
        return nullptr;
    }
    std::vector<std::string> fileNames() const
    {
        std::vector<std::string> names;
        for (const auto& file : files)
            names.push_back(file.name);
        return names;
    }
    // The path a requester rebuilds: "\" and each name, outermost first.
    std::string path(const Entry& folder) const
    {
        std::string path;
        for (const Entry* at = &folder; at != nullptr;
             at = at->parent == kNoParentFolder ? nullptr : folderAt(at->parent))
            path = "\\" + at->name + path;
        return path;
    }
    std::vector<std::string> pathsMarked(std::uint8_t mark) const
    {
        std::vector<std::string> paths;
        for (const auto& folder : folders) {
            // The requester strips the share root's text from paths long enough to hold it.
            const std::string full = path(folder);
            if (folder.mark == mark)
                paths.push_back(full.size() >= rootTextLength ? full.substr(rootTextLength) : full);
        }
        return paths;
    }
};

std::vector<Entry> readPart(ByteSpan names, ByteSpan records, bool folders)
{
    std::vector<Entry> entries;
    for (std::size_t at = 0; at < names.size();) {
        Entry entry;
        entry.position = static_cast<std::uint32_t>(at);
        std::size_t stride = 0;
        if (folders) {
            const auto record = readFolderRecord(records, at);
            stride = record.stride;
            entry.parent = record.parent;
            entry.mark = record.mark;
            entry.fileCount = record.fileCount;
        } else {
            const auto record = readFileRecord(records, at);
            stride = record.stride;
            entry.parent = record.parent;
            entry.size = record.size;
        }
        EXPECT_EQ(names[at], '|');
        if (stride == 0 || at + stride > names.size()) {
            ADD_FAILURE() << "bad stride at " << at;
            break;
        }
        entry.padded.assign(names.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                            names.begin() + static_cast<std::ptrdiff_t>(at + stride));
        entry.name = entry.padded.substr(0, entry.padded.find_last_not_of(' ') + 1);
        entries.push_back(entry);
        at += stride;
    }
    return entries;
}

Answer decode(const std::vector<std::uint8_t>& block)
{
    ByteReader in(block);
    EXPECT_EQ(in.u16le(), 68);
    EXPECT_EQ(in.u8(), kUntouched) << "byte 2 is the caller's";
    Answer answer;
    answer.rootTextLength = in.u8();
    const std::size_t fileLength = in.u16le();
    const std::size_t folderLength = in.u16le();
    for (const auto byte : in.span(60))
        EXPECT_EQ(byte, kUntouched) << "bytes 8-67 are the caller's";
    const auto part = [&in](std::size_t length) {
        const ByteSpan bytes = in.span(length);
        EXPECT_EQ(in.u16le(), 0) << "two zero bytes close every part";
        return bytes;
    };
    const ByteSpan fileNames = part(fileLength);
    const ByteSpan fileRecords = part(fileLength);
    const ByteSpan folderNames = part(folderLength);
    const ByteSpan folderRecords = part(folderLength);
    EXPECT_TRUE(in.ok());
    answer.blockSize = in.position();
    EXPECT_EQ(answer.blockSize, 76 + 2 * fileLength + 2 * folderLength);
    answer.files = readPart(fileNames, fileRecords, false);
    answer.folders = readPart(folderNames, folderRecords, true);
    // Renumbered parents: the first folder is the top, every other parent is an earlier folder.
    for (std::size_t i = 0; i < answer.folders.size(); ++i) {
        const auto& folder = answer.folders[i];
        if (i == 0)
            EXPECT_EQ(folder.parent, kNoParentFolder);
        else
            EXPECT_TRUE(folder.parent < folder.position && answer.folderAt(folder.parent)) << folder.name;
    }
    for (const auto& file : answer.files)
        EXPECT_TRUE(answer.folderAt(file.parent)) << file.name;
    return answer;
}

std::string wirePath(const std::filesystem::path& local)
{
    std::string path = local.string();
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class ShareIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = scratch.path() / "Share";
        const auto folder = [this](const std::string& relative) {
            std::filesystem::create_directories(root / relative);
        };
        const auto file = [this](const std::string& relative, std::size_t size) {
            writeFile((root / relative).string(), std::vector<std::uint8_t>(size, 'x'));
        };
        folder("Music/Rock/Deep");
        folder("doc/rock");
        file("a.txt", 5);
        file("Readme.MD", 10);
        file("song.mp3", 3);
        file("xsong.mp3", 4);
        file("Music/intro.mp3", 7);
        file("Music/Rock/live.ogg", 2);
        file("Music/Rock/Deep/track.ogg", 1);
        file("doc/manual.pdf", 8);
        file("bad|name.txt", 1);
        file(std::string(255, 'n'), 1);
        std::filesystem::create_directory_symlink(root / "Music", root / "loop");
        std::filesystem::create_symlink(root / "a.txt", root / "alias.txt");
        index.build(root.string());
    }

    int ask(std::string_view text, std::uint8_t flags, std::size_t capacity = 60000)
    {
        buffer.assign(60000, kUntouched);
        return index.query(text, buffer, capacity, flags);
    }
    Answer answer() const
    {
        return decode(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 76 +
                                                                    2 * (loadU16le(buffer, 4) + loadU16le(buffer, 6))));
    }

    ScratchFolder scratch;
    std::filesystem::path root;
    ShareIndex index;
    std::vector<std::uint8_t> buffer;
};

using Paths = std::vector<std::string>;
using Names = std::vector<std::string>;

} // namespace

TEST_F(ShareIndexTest, IndexesTheChainTheTreeAndNothingElse)
{
    ASSERT_TRUE(index.ready());
    const auto snapshot = scanShare(root.string());
    // The chain above the share keeps its case; the share and its tree are lowercase; short names
    // are padded to 4 (folders) and 7 (files).
    std::string chain;
    for (const auto& part : root.parent_path()) {
        if (part != "/")
            chain += "|" + part.string() + std::string(part.string().size() < 4 ? 4 - part.string().size() : 0, ' ');
    }
    EXPECT_EQ(snapshot.folderNames, chain + "|share|music|rock|deep|doc |rock|");
    EXPECT_EQ(snapshot.fileNames, "|readme.md|a.txt  |song.mp3|xsong.mp3|intro.mp3|live.ogg|track.ogg|manual.pdf|");
    EXPECT_EQ(snapshot.folderNames.substr(snapshot.rootPosition, 6), "|share");
    EXPECT_EQ(snapshot.rootTextLength, root.string().size());
    EXPECT_EQ(snapshot.stats.files, 8u);
    EXPECT_EQ(snapshot.stats.skippedNames, 2u) << "a name with | and a 255-byte name";
    EXPECT_FALSE(snapshot.stats.cut);
    EXPECT_EQ(index.folderLength(), snapshot.folderNames.size() - 1);
    EXPECT_EQ(index.fileLength(), snapshot.fileNames.size() - 1);

    const auto readme = readFileRecord(snapshot.fileRecords, 0);
    EXPECT_EQ(readme.stride, 10);
    EXPECT_EQ(readme.parent, snapshot.rootPosition);
    EXPECT_EQ(readme.size, 10u);
    const auto share = readFolderRecord(snapshot.folderRecords, snapshot.rootPosition);
    EXPECT_EQ(share.fileCount, 4);
    EXPECT_EQ(readFolderRecord(snapshot.folderRecords, 0).parent, kNoParentFolder);

    index.build("");
    EXPECT_TRUE(index.ready()) << "an empty path leaves the index as it was";
    EXPECT_EQ(index.fileLength(), snapshot.fileNames.size() - 1);
}

TEST_F(ShareIndexTest, ShareRootListing)
{
    ASSERT_EQ(ask("ignored", kQueryShareRoot | kQueryExactName | kQueryNoContainedFiles), kQueryAnswered);
    const auto a = answer();
    EXPECT_EQ(a.rootTextLength, root.string().size());
    // Answers carry the names as they are on disk: a requester asks for them by these names.
    EXPECT_EQ(a.fileNames(), (Names{"Readme.MD", "a.txt", "song.mp3", "xsong.mp3"}));
    EXPECT_EQ(a.files[1].padded, "a.txt  ");
    EXPECT_EQ(a.files[1].size, 5u);
    EXPECT_EQ(a.pathsMarked(kMarkMatched), (Paths{""}));
    EXPECT_EQ(a.pathsMarked(kMarkSubfolder), (Paths{"\\Music", "\\doc"}));
    EXPECT_EQ(a.folder("doc")->padded, "doc ");
    const auto above = root.parent_path();
    const auto chainLength = static_cast<std::size_t>(std::distance(above.begin(), above.end()) - 1);
    EXPECT_EQ(a.pathsMarked(kMarkAncestor).size(), chainLength);
    EXPECT_TRUE(equalsIgnoreAsciiCase(a.path(*a.folder("Share")), wirePath(root)));
    EXPECT_EQ(a.folder("Share")->fileCount, 4);
    EXPECT_FALSE(a.folder("rock")) << "only direct subfolders";
}

TEST_F(ShareIndexTest, FileNamesExactAndSubstring)
{
    ASSERT_EQ(ask("SONG.mp3", kQueryFiles | kQueryExactName | kQueryNoContainedFiles | kQueryNoSubfolders),
              kQueryAnswered);
    auto a = answer();
    EXPECT_EQ(a.fileNames(), (Names{"song.mp3"})) << "not xsong.mp3, which only ends with it";
    EXPECT_EQ(a.pathsMarked(kMarkMatched), (Paths{""}));

    ASSERT_EQ(ask("ong.m", kQueryFiles | kQueryNoContainedFiles), kQueryAnswered);
    a = answer();
    EXPECT_EQ(a.fileNames(), (Names{"song.mp3", "xsong.mp3"}));
    EXPECT_EQ(a.pathsMarked(kMarkSubfolder), (Paths{"\\Music", "\\doc"}));

    // A match deep down brings its folder's other files and the chain above it.
    ASSERT_EQ(ask("track", kQueryFiles), kQueryAnswered);
    a = answer();
    EXPECT_EQ(a.fileNames(), (Names{"track.ogg"}));
    EXPECT_EQ(a.pathsMarked(kMarkMatched), (Paths{"\\Music\\Rock\\Deep"}));
    EXPECT_EQ(a.pathsMarked(kMarkAncestor).back(), "\\Music\\Rock");
    EXPECT_EQ(a.files[0].parent, a.folder("Deep")->position);

    ASSERT_EQ(ask("live", kQueryFiles), kQueryAnswered);
    a = answer();
    EXPECT_EQ(a.fileNames(), (Names{"live.ogg"}));
    EXPECT_EQ(a.pathsMarked(kMarkSubfolder), (Paths{"\\Music\\Rock\\Deep"}));

    EXPECT_EQ(ask("a.txt", kQueryFiles | kQueryExactName), kQueryAnswered);
    EXPECT_EQ(ask("a.tx", kQueryFiles | kQueryExactName), kQueryNothing);
    EXPECT_EQ(ask("bad|name", kQueryFiles), kQueryNothing);
}

TEST_F(ShareIndexTest, FolderPaths)
{
    const std::string share = wirePath(root);
    // The whole path, any case, with or without a closing separator and with doubled separators.
    for (const std::string& text : {share + "\\MUSIC\\Rock", share + "\\music\\rock\\", share + "\\\\music\\\\rock"}) {
        ASSERT_EQ(ask(text, kQueryFolders), kQueryAnswered) << text;
        const auto a = answer();
        EXPECT_EQ(a.pathsMarked(kMarkMatched), (Paths{"\\Music\\Rock"})) << text;
        EXPECT_EQ(a.pathsMarked(kMarkSubfolder), (Paths{"\\Music\\Rock\\Deep"}));
        EXPECT_EQ(a.fileNames(), (Names{"live.ogg"}));
    }
    EXPECT_EQ(ask("\\elsewhere\\rock", kQueryFolders), kQueryNothing) << "the name exists, the path does not";
    EXPECT_EQ(ask(share + "\\music\\roc", kQueryFolders), kQueryNoFolder) << "flags 2 alone match whole names";
    EXPECT_EQ(ask("nowhere", kQueryFolders), kQueryNoFolder);
    EXPECT_EQ(ask("nowhere", kQueryFolders | kQueryFiles), kQueryNothing);
    EXPECT_EQ(ask("doc", kQueryFolders | kQueryExactName | kQueryAnyFolderPath), kQueryAnswered);
    EXPECT_EQ(answer().pathsMarked(kMarkMatched), (Paths{"\\doc"}));
}

TEST_F(ShareIndexTest, AnyFolderPathAndWhatMatchedFoldersBring)
{
    ASSERT_EQ(ask("x\\ROCK", kQueryFolders | kQueryAnyFolderPath), kQueryAnswered);
    auto a = answer();
    EXPECT_EQ(a.pathsMarked(kMarkMatched), (Paths{"\\Music\\Rock", "\\doc\\rock"}));
    EXPECT_EQ(a.pathsMarked(kMarkSubfolder), (Paths{"\\Music\\Rock\\Deep"}));
    EXPECT_EQ(a.fileNames(), (Names{"live.ogg"}));

    ASSERT_EQ(ask("rock", kQueryFolders | kQueryAnyFolderPath | kQueryNoContainedFiles), kQueryAnswered);
    EXPECT_TRUE(answer().files.empty());
    ASSERT_EQ(ask("rock", kQueryFolders | kQueryAnyFolderPath | kQueryNoSubfolders), kQueryAnswered);
    a = answer();
    EXPECT_TRUE(a.pathsMarked(kMarkSubfolder).empty());
    EXPECT_FALSE(a.folder("Deep"));
}

TEST_F(ShareIndexTest, FoldersAboveTheShareAreNeverMatched)
{
    // The system's temporary folder holds the scratch folder that holds the share.
    const std::string above = scratch.path().parent_path().filename().string();
    EXPECT_EQ(ask(above, kQueryFolders | kQueryAnyFolderPath), kQueryNoFolder);
    EXPECT_EQ(ask(wirePath(scratch.path().parent_path()), kQueryFolders), kQueryNoFolder);
    EXPECT_EQ(ask(wirePath(root), kQueryFolders), kQueryAnswered); // the share itself
}

TEST_F(ShareIndexTest, ResultCodesAndCapacity)
{
    ShareIndex empty;
    EXPECT_EQ(empty.query("a", buffer, 0, kQueryFiles), kQueryNotReady);
    empty.install({});
    EXPECT_FALSE(empty.ready());
    EXPECT_EQ(ask(std::string(260, 'a'), kQueryFiles), kQueryNotReady);
    EXPECT_EQ(ask(std::string(259, 'a'), kQueryFiles), kQueryNothing);
    EXPECT_EQ(ask("zzz", kQueryFiles), kQueryNothing);
    EXPECT_EQ(ask("zzz", 0), kQueryNothing);

    ASSERT_EQ(ask("", kQueryShareRoot), kQueryAnswered);
    const std::size_t size = answer().blockSize;
    EXPECT_EQ(ask("", kQueryShareRoot, size), kQueryTooBig);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](auto b) { return b == kUntouched; }));
    ASSERT_EQ(ask("", kQueryShareRoot, size + 1), kQueryAnswered);
    EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(size), buffer.end(),
                            [](auto b) { return b == kUntouched; }));
    // A capacity beyond the destination is the destination.
    std::vector<std::uint8_t> small(size, kUntouched);
    EXPECT_EQ(index.query("", small, 60000, kQueryShareRoot), kQueryTooBig);
}

TEST_F(ShareIndexTest, UnreadableFolderHasNoChildren)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    std::filesystem::permissions(root / "doc", std::filesystem::perms::none);
    index.build(root.string());
    std::filesystem::permissions(root / "doc", std::filesystem::perms::owner_all);
    ASSERT_EQ(ask("doc", kQueryFolders | kQueryExactName | kQueryAnyFolderPath), kQueryAnswered);
    const auto a = answer();
    EXPECT_TRUE(a.files.empty());
    EXPECT_EQ(a.folder("doc")->fileCount, 0);
    EXPECT_FALSE(a.folder("rock"));
}

namespace {

// A share of `folders` folders of `files` files each, named like "f000_00000.dat".
SharedFolder wideTree(int folders, int files)
{
    SharedFolder top;
    for (int f = 0; f < folders; ++f) {
        SharedFolder folder;
        char name[32];
        std::snprintf(name, sizeof name, "f%03d", f);
        folder.name = name;
        for (int i = 0; i < files; ++i) {
            char fileName[32];
            std::snprintf(fileName, sizeof fileName, "f%03d_%05d.dat", f, i);
            folder.files.push_back({fileName, 100});
        }
        top.folders.push_back(folder);
    }
    return top;
}

} // namespace

TEST(ShareIndexLimits, FilePartNeverReaches65535)
{
    ShareIndex index;
    index.install(layoutShareIndex("/srv/share", wideTree(2, 5000))); // stride 15: 75000 bytes per folder
    std::vector<std::uint8_t> buffer(200000, kUntouched);
    EXPECT_EQ(index.query("_0", buffer, buffer.size(), kQueryFiles), kQueryOutside);
    EXPECT_EQ(buffer[0], kUntouched) << "nothing written";

    // One match, then its folder's files until the part is full: the answer is cut, and consistent.
    ASSERT_EQ(index.query("f001_04999.dat", buffer, buffer.size(), kQueryFiles | kQueryExactName), kQueryCut);
    const std::size_t fileLength = loadU16le(buffer, 4);
    EXPECT_EQ(fileLength, 65520u) << "one more entry would reach 65535";
    const auto answer = decode({buffer.begin(), buffer.begin() + 76 + 2 * (fileLength + loadU16le(buffer, 6))});
    EXPECT_EQ(answer.files.front().name, "f001_04999.dat");
    EXPECT_EQ(answer.files.size(), fileLength / 15);
    EXPECT_EQ(index.query("f001_04999.dat", buffer, 60000, kQueryFiles | kQueryExactName), kQueryTooBig);
}

TEST(ShareIndexLimits, FolderPartCutKeepsEveryFileWithItsFolder)
{
    SharedFolder top;
    for (int i = 0; i < 2000; ++i) {
        SharedFolder folder;
        folder.name = "folder_" + std::string(30, 'x') + std::to_string(1000 + i); // stride 42
        folder.files.push_back({"inside.txt", 1});
        top.folders.push_back(folder);
    }
    ShareIndex index;
    index.install(layoutShareIndex("/s", top));
    std::vector<std::uint8_t> buffer(300000, kUntouched);
    ASSERT_EQ(index.query("inside.txt", buffer, buffer.size(), kQueryFiles | kQueryExactName), kQueryCut);
    // decode() checks that every file's parent is a folder of the answer.
    const auto answer =
        decode({buffer.begin(), buffer.begin() + 76 + 2 * (loadU16le(buffer, 4) + loadU16le(buffer, 6))});
    EXPECT_LT(answer.folders.size(), 2000u);
    EXPECT_EQ(answer.files.size(), answer.folders.size() - 1);
}

TEST(ShareIndexLimits, FolderTextCutStaysConsistent)
{
    const auto tree = wideTree(10, 3);
    const auto full = layoutShareIndex("/s", tree);
    const auto cut = layoutShareIndex("/s", tree, 29);
    EXPECT_FALSE(full.stats.cut);
    EXPECT_TRUE(cut.stats.cut);
    EXPECT_EQ(cut.folderNames, "|s   |f000|f001|f002|f003|");
    EXPECT_EQ(cut.stats.files, 12u) << "the files of the folders that made it";

    ShareIndex index;
    index.install(cut);
    std::vector<std::uint8_t> buffer(60000, kUntouched);
    ASSERT_EQ(index.query("", buffer, buffer.size(), kQueryShareRoot), kQueryAnswered);
    EXPECT_EQ(decode({buffer.begin(), buffer.begin() + 76 + 2 * loadU16le(buffer, 6)}).folders.size(), 5u);
    EXPECT_EQ(index.query("f009", buffer, buffer.size(), kQueryFiles), kQueryNothing);
}

TEST(ShareIndexLimits, ShareRootTextFitsOneByte)
{
    const auto slash = layoutShareIndex("/", {});
    EXPECT_EQ(slash.folderNames, "|\\   |");
    EXPECT_EQ(slash.rootTextLength, 1);

    // 5 x 60 bytes of chain: only the trailing components that keep "\...\share" within 255 stay.
    std::string deep;
    for (char c = 'a'; c < 'f'; ++c)
        deep += "/" + std::string(60, c);
    const auto trimmed = layoutShareIndex(deep + "/Share/", {});
    EXPECT_EQ(trimmed.rootTextLength, 1 + 4 * 61 + 5);
    EXPECT_EQ(trimmed.folderNames.substr(0, 62), "|" + std::string(60, 'b') + "|");
    EXPECT_EQ(trimmed.folderNames.substr(trimmed.rootPosition), "|share|");
    EXPECT_FALSE(trimmed.stats.rootNameTrimmed);

    const auto longName = layoutShareIndex("/home/" + std::string(255, 'R'), {});
    EXPECT_EQ(longName.rootTextLength, 255);
    EXPECT_EQ(longName.rootPosition, 0u);
    EXPECT_EQ(longName.folderNames, "|" + std::string(254, 'r') + "|");
    EXPECT_TRUE(longName.stats.rootNameTrimmed);

    const auto barred = layoutShareIndex("/a|b/c|d", {});
    EXPECT_EQ(barred.folderNames, "|a_b |c_d |");
}
