#include "common/SignatureVerifier.h"

#include <sodium.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace {

static_assert(crypto_sign_PUBLICKEYBYTES == 32);

// Decodes text into exactly out's size of bytes; any other length, a
// character outside the alphabet or missing padding fails.
template <std::size_t Size> bool DecodeBase64(std::string_view text, std::array<unsigned char, Size>& out)
{
    // One more byte than wanted, so that a longer value shows as one.
    unsigned char decoded[Size + 1];
    std::size_t length = 0;
    if (sodium_base642bin(decoded, sizeof decoded, text.data(), text.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        length != Size)
        return false;
    std::copy(decoded, decoded + Size, out.begin());
    return true;
}

// Signed files are read whole, as the signature covers them whole: launcher
// builds are a few megabytes, and a server must not make us hold more.
constexpr std::streamoff MAX_SIGNED_FILE_BYTES = 256 << 20;

// Appends the file's bytes to bytes.
bool ReadWholeFile(const wxString& path, std::string& bytes)
{
    std::ifstream file(path.fn_str(), std::ios::binary | std::ios::ate);
    const std::streamoff size = file ? std::streamoff(file.tellg()) : -1;
    if (size < 0 || size > MAX_SIGNED_FILE_BYTES)
        return false;
    const std::size_t start = bytes.size();
    bytes.resize(start + static_cast<std::size_t>(size));
    file.seekg(0);
    return static_cast<bool>(file.read(bytes.data() + start, size));
}

std::string_view WithoutLineEnd(std::string_view line)
{
    if (line.ends_with('\n'))
        line.remove_suffix(1);
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

} // namespace

std::optional<SignatureVerifier> SignatureVerifier::FromBase64(std::string_view text)
{
    // Picks the fastest implementations; safe to call again and from any thread.
    if (sodium_init() < 0)
        return std::nullopt;
    SignatureVerifier verifier;
    if (!DecodeBase64(text, verifier.publicKey))
        return std::nullopt;
    return verifier;
}

SignatureVerifier SignatureVerifier::Unusable()
{
    SignatureVerifier verifier;
    verifier.usable = false;
    return verifier;
}

wxString SignatureVerifier::SignatureFilePath(const wxString& signedFile)
{
    return signedFile + ".sig";
}

bool SignatureVerifier::Verify(std::string_view data, std::string_view signatureFile) const
{
    std::array<unsigned char, crypto_sign_BYTES> signature;
    if (!usable || !DecodeBase64(WithoutLineEnd(signatureFile), signature))
        return false;
    return crypto_sign_verify_detached(signature.data(), reinterpret_cast<const unsigned char*>(data.data()),
                                       data.size(), publicKey.data()) == 0;
}

bool SignatureVerifier::VerifyFile(const wxString& path, std::string_view signatureFile) const
{
    return VerifyFile({}, path, signatureFile);
}

bool SignatureVerifier::VerifyFile(std::string_view prefix, const wxString& path,
                                   std::string_view signatureFile) const
{
    std::string bytes(prefix);
    return ReadWholeFile(path, bytes) && Verify(bytes, signatureFile);
}
