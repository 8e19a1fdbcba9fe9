#include "update/ed25519.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdlib>

namespace vandry {

namespace {
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Bio = std::unique_ptr<BIO, BioFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, ContextFree>;

// SHA-256 is in every provider; failing to set it up means a broken installation, and a digest
// that silently differs would be worse than stopping.
void require(int ok)
{
    if (ok != 1)
        std::abort();
}
} // namespace

void Ed25519PrivateKey::KeyFree::operator()(evp_pkey_st* key) const
{
    EVP_PKEY_free(key);
}

std::optional<Ed25519PrivateKey> Ed25519PrivateKey::generate()
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (key == nullptr)
        return std::nullopt;
    return Ed25519PrivateKey(key);
}

std::optional<Ed25519PrivateKey> Ed25519PrivateKey::fromPem(std::string_view pem)
{
    const Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio)
        return std::nullopt;
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
    if (key == nullptr)
        return std::nullopt;
    if (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
        EVP_PKEY_free(key);
        return std::nullopt;
    }
    return Ed25519PrivateKey(key);
}

std::string Ed25519PrivateKey::toPem() const
{
    const Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string{};
}

Ed25519PublicKey Ed25519PrivateKey::publicKey() const
{
    Ed25519PublicKey key{};
    std::size_t size = key.size();
    require(EVP_PKEY_get_raw_public_key(key_.get(), key.data(), &size));
    require(size == key.size() ? 1 : 0);
    return key;
}

std::optional<Ed25519Signature> Ed25519PrivateKey::sign(ByteSpan message) const
{
    const DigestContext context(EVP_MD_CTX_new());
    Ed25519Signature signature{};
    std::size_t size = signature.size();
    // Ed25519 hashes the message itself: no digest is named.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &size, message.data(), message.size()) != 1 ||
        size != signature.size())
        return std::nullopt;
    return signature;
}

bool verifyEd25519(const Ed25519PublicKey& key, ByteSpan message, const Ed25519Signature& signature)
{
    EVP_PKEY* publicKey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size());
    if (publicKey == nullptr)
        return false;
    const DigestContext context(EVP_MD_CTX_new());
    const bool good =
        context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey) == 1 &&
        EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
    EVP_PKEY_free(publicKey);
    return good;
}

struct Sha256::State {
    DigestContext context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : state_(std::make_unique<State>())
{
    require(state_->context != nullptr);
    require(EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr));
}

Sha256::~Sha256() = default;

void Sha256::update(ByteSpan data)
{
    require(EVP_DigestUpdate(state_->context.get(), data.data(), data.size()));
}

Sha256Digest Sha256::finish()
{
    Sha256Digest digest{};
    unsigned int length = 0;
    require(EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length));
    require(length == digest.size() ? 1 : 0);
    require(EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr));
    return digest;
}

} // namespace vandry
