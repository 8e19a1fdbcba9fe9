#include "update/release_check.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace vandry {

std::string upgradeRefusalLogText(UpgradeRefusal refusal)
{
    switch (refusal) {
    case UpgradeRefusal::None:
        return "verified";
    case UpgradeRefusal::NotReplaceable:
        return "the installed executable cannot be replaced";
    case UpgradeRefusal::DownloadFailed:
        return "the download failed";
    case UpgradeRefusal::MissingSignature:
        return "the release has no signature";
    case UpgradeRefusal::BadSignature:
        return "the release's signature is not valid";
    case UpgradeRefusal::UntrustedSigner:
        return "the release is signed by a key this copy does not trust";
    case UpgradeRefusal::ShortDownload:
        return "the download is incomplete";
    case UpgradeRefusal::HashMismatch:
        return "the downloaded file does not match its signature";
    case UpgradeRefusal::NotNewer:
        return "the signed version is not newer than this one";
    case UpgradeRefusal::CannotSave:
        return "the download cannot be saved in the state folder";
    case UpgradeRefusal::CannotStart:
        return "the new version did not start";
    case UpgradeRefusal::Cancelled:
        return "the download was cancelled";
    }
    return "unknown";
}

std::string upgradeRefusalPromptText(UpgradeRefusal refusal)
{
    switch (refusal) {
    case UpgradeRefusal::None:
        return "新版本已通过校验，正在升级...";
    case UpgradeRefusal::NotReplaceable:
        return "本程序安装在不能改写的位置（由系统的软件包管理器安装，或所在文件夹只读），不能自动升级。"
               "请通过安装它的方式升级。";
    case UpgradeRefusal::DownloadFailed:
        return "下载升级文件失败，程序未作改动。";
    case UpgradeRefusal::MissingSignature:
        return "升级文件没有发布者的签名，已放弃升级，程序未作改动。";
    case UpgradeRefusal::BadSignature:
        return "升级文件的签名无效，已放弃升级，程序未作改动。";
    case UpgradeRefusal::UntrustedSigner:
        return "升级文件不是由可信的发布者签名的，已放弃升级，程序未作改动。";
    case UpgradeRefusal::ShortDownload:
        return "升级文件下载不完整，已放弃升级，程序未作改动。";
    case UpgradeRefusal::HashMismatch:
        return "升级文件与签名不符，已放弃升级，程序未作改动。";
    case UpgradeRefusal::NotNewer:
        return "下载的版本并不比当前版本新，已放弃升级，程序未作改动。";
    case UpgradeRefusal::CannotSave:
        return "无法保存升级文件，程序未作改动。";
    case UpgradeRefusal::CannotStart:
        return "无法启动新版本，程序未作改动。";
    case UpgradeRefusal::Cancelled:
        return "升级已取消。";
    }
    return {};
}

SignatureCheck checkReleaseSignature(ByteSpan signatureFile, std::span<const Ed25519PublicKey> trusted)
{
    const auto record = parseReleaseSignature(signatureFile);
    if (!record)
        return {UpgradeRefusal::BadSignature, {}};
    if (std::find(trusted.begin(), trusted.end(), record->signer) == trusted.end())
        return {UpgradeRefusal::UntrustedSigner, *record};
    if (!signatureHolds(*record))
        return {UpgradeRefusal::BadSignature, *record};
    return {UpgradeRefusal::None, *record};
}

UpgradeRefusal checkReceivedRelease(const ReceivedRelease& release, const ReleaseSignature& signature,
                                    std::uint32_t localVersion)
{
    if ((release.announced && release.received != *release.announced) || release.received < signature.size)
        return UpgradeRefusal::ShortDownload;
    const auto hashed = hashFile(release.file);
    if (!hashed || hashed->second != release.received)
        return UpgradeRefusal::ShortDownload;
    if (hashed->second != signature.size || hashed->first != signature.sha256)
        return UpgradeRefusal::HashMismatch;
    if (signature.version <= localVersion)
        return UpgradeRefusal::NotNewer;
    return UpgradeRefusal::None;
}

std::optional<std::pair<Sha256Digest, std::uint64_t>> hashFile(const std::filesystem::path& file)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
    if (!in)
        return std::nullopt;
    Sha256 hash;
    std::uint64_t size = 0;
    std::vector<std::uint8_t> buffer(1 << 16);
    while (const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get())) {
        hash.update(ByteSpan(buffer.data(), got));
        size += got;
    }
    if (std::ferror(in.get()))
        return std::nullopt;
    return std::pair{hash.finish(), size};
}

std::filesystem::path upgradeDownloadPath(const std::filesystem::path& stateFolder, std::int64_t nowSeconds)
{
    return stateFolder / ("UpFile" + std::to_string((nowSeconds % 10 + 10) % 10) + ".EXE");
}

} // namespace vandry
