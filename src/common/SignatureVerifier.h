#pragma once

#include <wx/string.h>

#include <array>
#include <optional>
#include <string_view>

// The publisher's Ed25519 public key, and the check of the detached
// signatures made with its private half. A signature file is one line: the
// standard base64, with padding, of the 64-byte signature of the signed
// file's exact bytes.
class SignatureVerifier {
public:
    // The key from the standard base64 of its 32 bytes, or nothing when the
    // text is not exactly that.
    static std::optional<SignatureVerifier> FromBase64(std::string_view text);
    // A key that was given but cannot be used: it verifies nothing, so that
    // whatever it should have guarded is refused.
    static SignatureVerifier Unusable();
    // Where the signature of a file lies: beside it, on the server as in the installation.
    static wxString SignatureFilePath(const wxString& signedFile);

    // True when signatureFile (one line, a trailing line end allowed) holds
    // the key's signature of data.
    bool Verify(std::string_view data, std::string_view signatureFile) const;
    // The same for the bytes of the file at path; one that cannot be read
    // whole does not verify.
    bool VerifyFile(const wxString& path, std::string_view signatureFile) const;
    // The same for the bytes of prefix followed by those of the file at path.
    bool VerifyFile(std::string_view prefix, const wxString& path, std::string_view signatureFile) const;
    bool IsUsable() const { return usable; }

private:
    std::array<unsigned char, 32> publicKey{};
    bool usable = true;
};
