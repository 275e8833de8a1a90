#pragma once

#include <wx/string.h>

#include <cstddef>

struct evp_md_ctx_st;

// SHA-256 computed incrementally by the system's libcrypto, which uses the
// processor's SHA instructions where it has them.
class SHA256 {
public:
    SHA256();
    ~SHA256();
    SHA256(const SHA256&) = delete;
    SHA256& operator=(const SHA256&) = delete;

    void Update(const void* data, std::size_t length);
    // The digest of the bytes so far as 64 lowercase hexadecimal digits; empty
    // when the library failed, which no good file's digest can equal.
    wxString Finalize();

private:
    evp_md_ctx_st* context;
    bool failed = false;
};
