#include "common/md5.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace vandry {

namespace {
// MD5 is in OpenSSL's default provider; failing to set it up means a broken installation, and
// a digest that silently differs would be worse than stopping.
void require(int ok)
{
    if (ok != 1)
        std::abort();
}
} // namespace

void Md5::ContextFree::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

Md5::Md5() : context_(EVP_MD_CTX_new())
{
    require(context_ != nullptr);
    require(EVP_DigestInit_ex(context_.get(), EVP_md5(), nullptr));
}

Md5::~Md5() = default;

void Md5::update(ByteSpan data)
{
    require(EVP_DigestUpdate(context_.get(), data.data(), data.size()));
}

Md5Digest Md5::finish()
{
    Md5Digest digest{};
    unsigned int length = 0;
    require(EVP_DigestFinal_ex(context_.get(), digest.data(), &length));
    require(length == digest.size() ? 1 : 0);
    require(EVP_DigestInit_ex(context_.get(), EVP_md5(), nullptr));
    return digest;
}

Md5Digest md5(ByteSpan data)
{
    Md5 hash;
    hash.update(data);
    return hash.finish();
}

} // namespace vandry
