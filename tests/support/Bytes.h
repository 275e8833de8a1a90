#pragma once

#include <wx/stream.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes start to start + count - 1 of the pattern byte(i) = i % 251, which the
// fault server's bodies follow too: bytes from a wrong offset show at once.
std::string Pattern(std::uint64_t start, std::size_t count);
// count bytes without repeats (the same for the same count), which nothing can
// compress or take from elsewhere in them.
std::string Noise(std::size_t count);

// The zlib formats: a raw deflate stream (archive members), zlib and gzip.
enum DeflateFormat : int { RAW_DEFLATE = -15, ZLIB = 15, GZIP = 31 };
std::string Deflate(const std::string& bytes, DeflateFormat format);

// What a reader got from a stream until a read returned nothing, and why it ended.
struct StreamContent {
    std::string bytes;
    wxStreamError end = wxSTREAM_NO_ERROR;
};
StreamContent ReadAll(wxInputStream& stream, std::size_t chunk = 64 * 1024);
