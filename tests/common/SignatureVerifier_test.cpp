#include "common/SignatureVerifier.h"

#include "support/TestSigningKey.h"

#include <gtest/gtest.h>

namespace {

// Only the key's signature of these very bytes, one line with or without its end.
TEST(SignatureVerifier, VerifiesTheExactBytesSignedWithTheKey)
{
    const TestSigningKey publisher, stranger;
    const auto verifier = SignatureVerifier::FromBase64(publisher.PublicKey());
    ASSERT_TRUE(verifier);
    const std::string data("release\0bytes", 13);
    const std::string line = publisher.Sign(data).substr(0, 88);
    for (const std::string& good : {line, line + "\n", line + "\r\n"})
        EXPECT_TRUE(verifier->Verify(data, good)) << '"' << good << '"';
    for (const std::string& bad : {line + "\n\n", line.substr(0, 86), " " + line, stranger.Sign(data),
                                   publisher.Sign(data.substr(0, 12)), std::string()})
        EXPECT_FALSE(verifier->Verify(data, bad)) << '"' << bad << '"';
}

} // namespace
