#include "common/SignatureVerifier.h"

#include "support/TestSigningKey.h"

#include <gtest/gtest.h>

namespace {

TEST(SignatureVerifier, KeysAreExactly32BytesOfPaddedStandardBase64)
{
    const TestSigningKey publisher;
    const std::string key = publisher.PublicKey();
    EXPECT_TRUE(SignatureVerifier::FromBase64(key));
    for (const std::string& bad : {std::string(), key.substr(0, 43), key.substr(0, 40) + "====", "AAAA" + key,
                                   key + "\n", " " + key, key.substr(0, 42) + "-="})
        EXPECT_FALSE(SignatureVerifier::FromBase64(bad)) << '"' << bad << '"';
}

// Only the key's signature of these very bytes, one line with or without its end.
TEST(SignatureVerifier, VerifiesTheExactBytesSignedWithTheKey)
{
    const TestSigningKey publisher, stranger;
    const auto verifier = SignatureVerifier::FromBase64(publisher.PublicKey());
    ASSERT_TRUE(verifier);
    const std::string data("release\0bytes", 13);
    const std::string line = publisher.Sign(data).substr(0, 88);
    const std::pair<std::string, bool> cases[] = {
        {line, true},
        {line + "\n", true},
        {line + "\r\n", true},
        {line + "\n\n", false},
        {line.substr(0, 86), false},
        {" " + line, false},
        {stranger.Sign(data), false},
        {publisher.Sign(data.substr(0, 12)), false},
        {"", false},
    };
    for (const auto& [signature, valid] : cases)
        EXPECT_EQ(verifier->Verify(data, signature), valid) << '"' << signature << '"';
}

} // namespace
