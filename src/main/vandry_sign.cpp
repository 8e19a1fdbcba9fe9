// vandry-sign: the publisher's side of the self-upgrade. Makes a release key pair, signs a
// release with its version, and checks a signature the way a copy does.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "update/release_check.h"
#include "update/release_signature.h"
#include "update/trusted_release_keys.h"

namespace {
using namespace vandry;

constexpr const char* kUsage =
    "usage: vandry-sign keygen DIR\n"
    "           makes DIR/release-key.pem (private, keep it safe) and DIR/release-key.pub\n"
    "       vandry-sign sign KEY.pem VERSION FILE\n"
    "           writes FILE.sig: FILE's SHA-256, size and VERSION (a.b.c.d) signed with KEY.pem\n"
    "       vandry-sign verify PUBLIC FILE\n"
    "           checks FILE.sig against FILE and PUBLIC (64 hex digits, or a .pub file)\n";

int fail(const std::string& message)
{
    std::fprintf(stderr, "vandry-sign: %s\n", message.c_str());
    return 1;
}

std::optional<std::string> readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Creates `path` with `mode`, refusing to replace a file that is there.
bool writeNewFile(const std::filesystem::path& path, const std::string& text, mode_t mode)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok;
}

int keygen(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const auto key = Ed25519PrivateKey::generate();
    if (!key)
        return fail("cannot make a key");
    const auto privatePath = folder / "release-key.pem";
    const auto publicPath = folder / "release-key.pub";
    if (!writeNewFile(privatePath, key->toPem(), 0600))
        return fail("cannot create " + privatePath.string() + " (does it exist already?)");
    if (!writeNewFile(publicPath, publicKeyText(key->publicKey()) + "\n", 0644))
        return fail("cannot create " + publicPath.string());
    std::printf("private key: %s\npublic key:  %s (%s)\n", privatePath.c_str(), publicPath.c_str(),
                publicKeyText(key->publicKey()).c_str());
    return 0;
}

int sign(const std::filesystem::path& keyFile, const std::string& versionText, const std::filesystem::path& file)
{
    const auto pem = readText(keyFile);
    const auto key = pem ? Ed25519PrivateKey::fromPem(*pem) : std::nullopt;
    if (!key)
        return fail("no Ed25519 private key in " + keyFile.string());
    const auto version = parseReleaseVersion(versionText);
    if (!version)
        return fail("the version must be four numbers 0-255 separated by dots: " + versionText);
    const auto hashed = hashFile(file);
    if (!hashed)
        return fail("cannot read " + file.string());
    const auto record = signRelease(*key, *version, hashed->second, hashed->first);
    if (!record)
        return fail("signing failed");
    const auto bytes = encodeReleaseSignature(*record);
    const std::filesystem::path out = file.string() + std::string(kReleaseSignatureSuffix);
    std::ofstream write(out, std::ios::binary | std::ios::trunc);
    write.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!write.flush())
        return fail("cannot write " + out.string());
    std::printf("%s: version %s, %llu bytes, signed by %s\n", out.c_str(), releaseVersionText(*version).c_str(),
                static_cast<unsigned long long>(hashed->second), publicKeyText(record->signer).c_str());
    return 0;
}

int verify(const std::string& publicText, const std::filesystem::path& file)
{
    auto key = parsePublicKeyText(publicText);
    if (!key)
        if (const auto text = readText(publicText))
            key = parsePublicKeyText(*text);
    if (!key)
        return fail("not a public key (64 hex digits or a .pub file): " + publicText);
    const auto signatureFile = readText(file.string() + std::string(kReleaseSignatureSuffix));
    if (!signatureFile)
        return fail("cannot read " + file.string() + std::string(kReleaseSignatureSuffix));
    const Ed25519PublicKey trusted[] = {*key};
    const SignatureCheck check = checkReleaseSignature(asBytes(*signatureFile), trusted);
    if (check.refusal != UpgradeRefusal::None)
        return fail(upgradeRefusalLogText(check.refusal));
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error)
        return fail("cannot read " + file.string());
    // Version 0 as "ours": any signed version passes here; a copy compares with its own.
    const UpgradeRefusal refusal = checkReceivedRelease({file, size, std::nullopt}, check.signature, 0);
    if (refusal != UpgradeRefusal::None)
        return fail(upgradeRefusalLogText(refusal));
    std::printf("%s: good signature, version %s\n", file.c_str(), releaseVersionText(check.signature.version).c_str());
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "keygen" && argc == 3)
        return keygen(argv[2]);
    if (command == "sign" && argc == 5)
        return sign(argv[2], argv[3], argv[4]);
    if (command == "verify" && argc == 4)
        return verify(argv[2], argv[3]);
    std::fputs(kUsage, command == "--help" || command == "-h" ? stdout : stderr);
    return command == "--help" || command == "-h" ? 0 : 2;
}
