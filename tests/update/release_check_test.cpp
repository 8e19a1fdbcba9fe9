#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "fakes.h"
#include "update/installed_release.h"
#include "update/release_check.h"
#include "update/trusted_release_keys.h"

using namespace vandry;
namespace fs = std::filesystem;

namespace {
constexpr std::uint32_t kLocalVersion = 0x00090000;

class ReleaseCheckTest : public ::testing::Test {
protected:
    ReleaseCheckTest()
    {
        dir_ = fs::temp_directory_path() / ("vandry-release-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        write(release(), content_);
    }
    ~ReleaseCheckTest() override { fs::remove_all(dir_); }

    fs::path release() const { return dir_ / "UpFile1.EXE"; }
    static void write(const fs::path& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    ReleaseSignature signedAs(std::uint32_t version, const std::string& text)
    {
        Sha256 hash;
        hash.update(asBytes(text));
        return *signRelease(key_, version, text.size(), hash.finish());
    }
    UpgradeRefusal check(std::uint32_t version, std::optional<std::uint64_t> announced = std::nullopt)
    {
        const auto size = fs::file_size(release());
        return checkReceivedRelease({release(), size, announced}, signedAs(version, content_), kLocalVersion);
    }

    fs::path dir_;
    Ed25519PrivateKey key_ = *Ed25519PrivateKey::generate();
    std::string content_ = std::string(5000, 'x') + "release";
};
} // namespace

TEST_F(ReleaseCheckTest, SignatureMustParseNameATrustedSignerAndHold)
{
    const Ed25519PublicKey trusted[] = {projectReleaseKey(), key_.publicKey()};
    auto bytes = encodeReleaseSignature(signedAs(0x00090001, content_));
    EXPECT_EQ(checkReleaseSignature(bytes, trusted).refusal, UpgradeRefusal::None);
    EXPECT_EQ(checkReleaseSignature(bytes, std::span(trusted).first(1)).refusal, UpgradeRefusal::UntrustedSigner);
    bytes[9] ^= 1; // the version, after signing
    EXPECT_EQ(checkReleaseSignature(bytes, trusted).refusal, UpgradeRefusal::BadSignature);
    EXPECT_EQ(checkReleaseSignature(asBytes(std::string("<html>404</html>")), trusted).refusal,
              UpgradeRefusal::BadSignature);
}

TEST_F(ReleaseCheckTest, FileMustBeWholeAndAsSignedAndItsVersionNewer)
{
    EXPECT_EQ(check(0x00090001), UpgradeRefusal::None);
    EXPECT_EQ(check(0x00090001, content_.size()), UpgradeRefusal::None);
    EXPECT_EQ(check(0x00090001, content_.size() + 1), UpgradeRefusal::ShortDownload);
    EXPECT_EQ(check(kLocalVersion), UpgradeRefusal::NotNewer);
    EXPECT_EQ(check(0x00080000), UpgradeRefusal::NotNewer);

    write(release(), content_.substr(0, 4000));
    EXPECT_EQ(check(0x00090001), UpgradeRefusal::ShortDownload);
    write(release(), content_ + "more");
    EXPECT_EQ(check(0x00090001), UpgradeRefusal::HashMismatch);
    std::string tampered = content_;
    tampered[100] = 'y';
    write(release(), tampered);
    EXPECT_EQ(check(0x00090001), UpgradeRefusal::HashMismatch);
    // Fewer bytes on disk than the download counted.
    write(release(), content_.substr(0, 10));
    EXPECT_EQ(
        checkReceivedRelease({release(), content_.size(), std::nullopt}, signedAs(0x00090001, content_), kLocalVersion),
        UpgradeRefusal::ShortDownload);
}

TEST_F(ReleaseCheckTest, DownloadsGoToTheStateFolderNamedByTheSecond)
{
    EXPECT_EQ(upgradeDownloadPath("/home/a/state", 1'700'000'007), fs::path("/home/a/state/UpFile7.EXE"));
    EXPECT_EQ(upgradeDownloadPath("/s", 10), fs::path("/s/UpFile0.EXE"));
}

TEST_F(ReleaseCheckTest, ProfileKeysCountOnlyWhileOthersCannotWriteTheProfile)
{
    const fs::path profile = dir_ / "settings.ini";
    write(profile, "[Settings]\n");
    ::chmod(dir_.c_str(), 0755);
    ::chmod(profile.c_str(), 0644);
    EXPECT_TRUE(onlyOwnerCanWrite(profile));
    ::chmod(profile.c_str(), 0664);
    EXPECT_FALSE(onlyOwnerCanWrite(profile));
    ::chmod(profile.c_str(), 0644);
    ::chmod(dir_.c_str(), 0757);
    EXPECT_FALSE(onlyOwnerCanWrite(profile));
    ::chmod(dir_.c_str(), 0755);
    EXPECT_FALSE(onlyOwnerCanWrite(dir_ / "missing.ini"));
}

TEST_F(ReleaseCheckTest, InstalledVersionCountsOnlyForTheRecordedFile)
{
    vandry::testing::MemoryProfileStore profile;
    EXPECT_EQ(installedReleaseVersion(profile, release()), 0u);
    recordInstalledRelease(profile, 0x00090005, hashFile(release())->first);
    EXPECT_EQ(installedReleaseVersion(profile, release()), 0x00090005u);
    EXPECT_EQ(installedReleaseVersion(profile, dir_ / "missing"), 0u);

    const std::string hash = *profile.readText(kProfileSection, kKeyInstalledHash);
    profile.writeText(kProfileSection, kKeyInstalledHash, hash + "00");
    EXPECT_EQ(installedReleaseVersion(profile, release()), 0u) << "a longer hash";
    profile.writeText(kProfileSection, kKeyInstalledHash, hash);
    profile.writeText(kProfileSection, kKeyInstalledVersion, "9x");
    EXPECT_EQ(installedReleaseVersion(profile, release()), 0u) << "a version that is not a number";

    profile.writeText(kProfileSection, kKeyInstalledVersion, "589829");
    write(release(), content_ + "!"); // the user put another build in its place
    EXPECT_EQ(installedReleaseVersion(profile, release()), 0u);
}
