#pragma once

#include <wx/string.h>

#include <cstddef>
#include <cstdint>

// MD5 (RFC 1321), computed incrementally.
class MD5 {
public:
    MD5();
    void Update(const void* data, std::size_t length);
    // Writes the 16 digest bytes and wipes the context.
    void Finalize(unsigned char digest[16]);

private:
    void Transform(const unsigned char* blocks, std::size_t blockCount);
    void Wipe();

    std::uint32_t state[4];
    std::uint32_t count[2]; // number of bits, modulo 2^64 (low word first)
    unsigned char buffer[64];
};

// Digest of the file's bytes as 32 lowercase hexadecimal digits; empty when the
// file cannot be opened or read, which no good file's checksum can equal.
wxString FileMD5(const wxString& path);

// Digest of the ASCII form of text (every character above 127 becomes '_').
wxString StringMD5(const wxString& text);

// count bytes as 2 x count lowercase hexadecimal digits.
wxString ToHexString(const unsigned char* bytes, std::size_t count);
