#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/file_digest.h"
#include "common/md5.h"
#include "discovery/host_record.h"
#include "discovery/request_server.h"
#include "scratch_folder.h"
#include "store/file_info_source.h"
#include "store/listing_record.h"
#include "store/resume_store.h"
#include "store/share_hash_table.h"
#include "store/share_index.h"
#include "store/share_services.h"

using namespace vandry;
using vandry::testing::pattern;
using vandry::testing::ScratchFolder;
using vandry::testing::writeFile;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kKeyRequestSize = RequestHeader::kSize + kFileKeySize;

// A real share beside a folder outside it, answered the way the discovery endpoint answers.
class ShareServicesTest : public ::testing::Test {
protected:
    ShareServicesTest()
    {
        fs::create_directories(share / "sub" / "deeper");
        fs::create_directories(outside);
        writeFile((share / "Film-Alpha.bin").string(), pattern(0, 4096));
        writeFile((share / "tiny.txt").string(), pattern(1, 500));
        writeFile((share / "sub" / "twin-a.bin").string(), pattern(2, 3000));
        writeFile((share / "sub" / "twin-b.bin").string(), pattern(3, 3000));
        writeFile((outside / "secret.bin").string(), pattern(4, 5000));
        fs::create_directory_symlink(outside, share / "escape");
        index.build(share.string());
    }

    std::optional<Bytes> serve(const Bytes& request)
    {
        auto served = serveRequest(request, services, local);
        if (!served)
            return std::nullopt;
        EXPECT_EQ(served->requester, requester);
        return served->reply;
    }

    // The names of the listing a folder request is answered with; nullopt when there is no reply.
    std::optional<std::vector<std::string>> listing(std::string_view wirePath)
    {
        const auto request = *encodeTextRequest(RequestKind::FolderListing, 0, 7, requester, wirePath);
        const auto reply = serve(request);
        if (!reply)
            return std::nullopt;
        EXPECT_GE(reply->size(), request.size());
        std::vector<std::string> names;
        std::size_t end = request.size();
        forEachListingRecord(ByteSpan(*reply).subspan(request.size()), [&](std::size_t offset, const ListingRecord& r) {
            names.push_back(r.name);
            end = request.size() + offset + r.encodedSize();
            return true;
        });
        EXPECT_EQ(end, reply->size()) << "every listed byte is a whole record";
        std::sort(names.begin(), names.end());
        return names;
    }

    static FileKey keyFor(const Bytes& content, std::uint32_t size)
    {
        const auto digest = md5(content);
        FileKey key{};
        std::copy(digest.begin(), digest.end(), key.begin());
        for (int i = 0; i < 4; ++i)
            key[16 + i] = static_cast<std::uint8_t>(size >> (8 * i));
        std::fill(key.begin() + 20, key.end(), 0x5A); // the task identity, echoed untouched
        return key;
    }

    // The path a source lookup answers with, "" when the reply carries none.
    std::string lookup(const FileKey& key)
    {
        const auto request = encodeKeyRequest(9, requester, key);
        const auto reply = serve(request);
        if (!reply)
            return "<no reply>";
        EXPECT_TRUE(std::equal(request.begin() + 68, request.end(), reply->begin() + 68)) << "the key comes back";
        if (reply->size() == kKeyRequestSize)
            return {};
        EXPECT_EQ(reply->back(), 0) << "the path ends in its zero";
        return {reply->begin() + kKeyRequestSize, reply->end() - 1};
    }

    std::string canonicalShare() const { return fs::canonical(share).string(); }

    ScratchFolder scratch;
    fs::path share = scratch.path() / "share";
    fs::path outside = scratch.path() / "outside";
    ResumeStore resume{scratch.path() / "resume"};
    LocalFileInfoSource info{resume};
    ShareHashTable hashes{info, [this] { return share.string(); }};
    ShareIndex index;
    ShareServices services{index, hashes, [this] { return share.string(); }};
    HostRecord requester = [] {
        HostRecord r;
        r.setNickname("asker");
        return r;
    }();
    HostRecord local = [] {
        HostRecord r;
        r.setNickname("sharer");
        return r;
    }();
};

using Names = std::vector<std::string>;

} // namespace

TEST_F(ShareServicesTest, ListsSharedFoldersAndNothingOutside)
{
    // "escape" links out of the share: its content would be refused, so it is not listed.
    EXPECT_EQ(listing("\\"), (Names{"Film-Alpha.bin", "sub", "tiny.txt"}));
    EXPECT_EQ(listing("\\sub"), (Names{"deeper", "twin-a.bin", "twin-b.bin"}));
    EXPECT_EQ(listing("\\\\sub\\\\"), (Names{"deeper", "twin-a.bin", "twin-b.bin"})) << "doubled separators";
    EXPECT_EQ(listing("\\sub\\deeper"), Names{}) << "an empty folder";

    // Answered, with nothing listed.
    for (const std::string_view refused : {"\\..\\", "\\..", "\\sub\\..\\..\\etc", "\\sub\\..\\..\\outside", "\\escape",
                                           "\\escape\\", "\\Film-Alpha.bin", "\\missing"})
        EXPECT_EQ(listing(refused), Names{}) << refused;

    EXPECT_FALSE(listing("sub")) << "a path must begin with a separator";
    EXPECT_FALSE(listing("")) << "a path must begin with a separator";
    EXPECT_FALSE(listing("/")) << "a full path is never listed";
}

TEST_F(ShareServicesTest, ListingWithoutShareRootIsEmpty)
{
    ShareServices noShare{index, hashes, [] { return std::string(); }};
    const auto request = *encodeTextRequest(RequestKind::FolderListing, 0, 7, requester, "\\");
    const auto served = serveRequest(request, noShare, local);
    ASSERT_TRUE(served);
    EXPECT_EQ(served->reply.size(), request.size());
}

TEST_F(ShareServicesTest, SourceLookupDigestsSharedFilesOfTheAskedSize)
{
    const auto film = canonicalShare() + "/Film-Alpha.bin";
    EXPECT_FALSE(hashes.sizeForPath(film));
    const auto filmKey = keyFor(pattern(0, 4096), 4096);
    EXPECT_EQ(lookup(filmKey), "\\Film-Alpha.bin");
    EXPECT_EQ(hashes.sizeForPath(film), 4096u) << "the match is remembered";
    EXPECT_EQ(lookup(filmKey), "\\Film-Alpha.bin") << "answered from the table";

    EXPECT_EQ(lookup(keyFor(pattern(9, 4096), 4096)), "") << "same size, other content";
    EXPECT_EQ(lookup(keyFor(pattern(0, 4096), 4097)), "") << "same content, other size";
    EXPECT_EQ(lookup(keyFor(pattern(3, 3000), 3000)), "\\sub\\twin-b.bin") << "the second file of that size";
    EXPECT_EQ(lookup(keyFor(pattern(1, 500), 500)), "") << "small files have no digest information";
}

TEST_F(ShareServicesTest, SourceLookupNeverOffersFilesOutsideTheShare)
{
    const auto secret = pattern(4, 5000);
    const auto outsidePath = fs::canonical(outside / "secret.bin").string();
    hashes.storeDigest(outsidePath, fileDigestText(md5(secret)), 5000);
    EXPECT_EQ(lookup(keyFor(secret, 5000)), "");
    // Nor through the link inside the share, although the table's path lies in it by name.
    hashes.storeDigest(canonicalShare() + "/escape/secret.bin", fileDigestText(md5(secret)), 5000);
    EXPECT_EQ(lookup(keyFor(secret, 5000)), "");

    // A shared file replaced by a link to outside after the index was built.
    const auto outsideTwin = pattern(5, 3000);
    writeFile((outside / "twin.bin").string(), outsideTwin);
    fs::remove(share / "sub" / "twin-a.bin");
    fs::create_symlink(outside / "twin.bin", share / "sub" / "twin-a.bin");
    EXPECT_EQ(lookup(keyFor(outsideTwin, 3000)), "");
    EXPECT_FALSE(hashes.sizeForPath(canonicalShare() + "/sub/twin-a.bin"));
}

TEST_F(ShareServicesTest, ShareQueriesAnswerWithNamesAsOnDisk)
{
    const auto request = *encodeTextRequest(RequestKind::ShareQuery, kQueryFiles, 0, requester, "film");
    const auto reply = serve(request);
    ASSERT_TRUE(reply);
    ASSERT_GE(reply->size(), kAnswerFixedSize);
    EXPECT_EQ(reply->size(), loadU16le(*reply, 0) + 8u + 2u * (loadU16le(*reply, 4) + loadU16le(*reply, 6)));
    EXPECT_EQ(Bytes(reply->begin() + 8, reply->begin() + 68), encodeHostRecord(local));
    const std::string text(reply->begin() + 68, reply->end());
    EXPECT_NE(text.find("Film-Alpha.bin"), std::string::npos);
    EXPECT_EQ(text.find("film-alpha"), std::string::npos);
    EXPECT_EQ(text.find("twin"), std::string::npos);

    EXPECT_FALSE(serve(*encodeTextRequest(RequestKind::ShareQuery, kQueryFiles, 0, requester, "nomatch")));
}
