#pragma once

#include <string>

// A publisher's Ed25519 key pair made for one test, with its public half as
// launcher.conf takes it and signatures as the release builder writes them.
class TestSigningKey {
public:
    TestSigningKey();
    // The standard base64 of the public key.
    std::string PublicKey() const;
    // The content of a .sig file for bytes: one line of base64.
    std::string Sign(const std::string& bytes) const;

private:
    unsigned char publicKey[32];
    unsigned char secretKey[64];
};
