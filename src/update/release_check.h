#pragma once
// What a downloaded release must pass before it may run: a signature by a trusted key, then
// the file's hash and size as signed, then a signed version newer than the running one. Each
// failure is a refusal with a line for the event log and a text for the upgrade prompt.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "update/release_signature.h"

namespace vandry {

enum class UpgradeRefusal : std::uint8_t {
    None,
    NotReplaceable,   // the installed executable cannot be replaced: nothing is downloaded
    DownloadFailed,   // the release or its signature could not be fetched
    MissingSignature, // the feed's server has no signature beside the release
    BadSignature,     // no signature record, or one that does not hold
    UntrustedSigner,  // signed, but not by a key this copy trusts
    ShortDownload,    // fewer bytes than announced or signed
    HashMismatch,     // other bytes than signed
    NotNewer,         // the signed version is not newer than the running one
    CannotSave,       // the state folder would not take the file
    CannotStart,      // the verified release did not start
    Cancelled,        // the prompt was closed during the download
};

// The event log's words for it (English, as the rest of the log).
std::string upgradeRefusalLogText(UpgradeRefusal refusal);
// The prompt's.
std::string upgradeRefusalPromptText(UpgradeRefusal refusal);

struct SignatureCheck {
    UpgradeRefusal refusal = UpgradeRefusal::None;
    ReleaseSignature signature;
};

// The signature file as fetched: its record must parse, name a trusted signer and hold.
SignatureCheck checkReleaseSignature(ByteSpan signatureFile, std::span<const Ed25519PublicKey> trusted);

struct ReceivedRelease {
    std::filesystem::path file;
    std::uint64_t received = 0;             // bytes written to `file`
    std::optional<std::uint64_t> announced; // the answer's content length, when it gave one
};

// After the signature held: the file's size and hash against it, then its version against ours.
UpgradeRefusal checkReceivedRelease(const ReceivedRelease& release, const ReleaseSignature& signature,
                                    std::uint32_t localVersion);

// SHA-256 and size of a file; nullopt when it cannot be read.
std::optional<std::pair<Sha256Digest, std::uint64_t>> hashFile(const std::filesystem::path& file);

// Where a copy keeps a downloaded release: "UpFile%d.EXE" in its state folder, the number
// being the current time in seconds modulo 10.
std::filesystem::path upgradeDownloadPath(const std::filesystem::path& stateFolder, std::int64_t nowSeconds);

} // namespace vandry
