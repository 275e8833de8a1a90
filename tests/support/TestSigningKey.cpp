#include "support/TestSigningKey.h"

#include <sodium.h>

#include <stdexcept>

namespace {

std::string Base64(const unsigned char* bytes, std::size_t length)
{
    std::string text(sodium_base64_ENCODED_LEN(length, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, length, sodium_base64_VARIANT_ORIGINAL);
    text.pop_back(); // the terminating zero
    return text;
}

} // namespace

TestSigningKey::TestSigningKey()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    crypto_sign_keypair(publicKey, secretKey);
}

std::string TestSigningKey::PublicKey() const
{
    return Base64(publicKey, sizeof publicKey);
}

std::string TestSigningKey::Sign(const std::string& bytes) const
{
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()),
                         bytes.size(), secretKey);
    return Base64(signature, sizeof signature) + "\n";
}
