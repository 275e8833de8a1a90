#include "common/SHA256.h"

#include "common/MD5.h"

#include <openssl/evp.h>

SHA256::SHA256() : context(EVP_MD_CTX_new())
{
    failed = context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1;
}

SHA256::~SHA256()
{
    EVP_MD_CTX_free(context);
}

void SHA256::Update(const void* data, std::size_t length)
{
    failed = failed || EVP_DigestUpdate(context, data, length) != 1;
}

wxString SHA256::Finalize()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (failed || EVP_DigestFinal_ex(context, digest, &length) != 1)
        return wxString();
    return ToHexString(digest, length);
}
