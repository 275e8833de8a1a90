#pragma once

#include "download/ByteRange.h"
#include "download/LimitedInputStream.h"

#include <wx/stream.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Reads a 206 multipart/byteranges body part by part, straight from the
// body: nothing is held but the header line being read, whatever the size of
// the parts. The parts must be exactly the ranges asked for, in their order;
// a server that merges, reorders or adds ranges, or a body that ends early or
// breaks the format, fails the reader.
class MultipartReader {
public:
    // "multipart/byteranges; boundary=XYZ" -> "XYZ"; empty for any other type.
    static std::string Boundary(const std::string& contentType);

    // body must outlive the reader.
    MultipartReader(wxInputStream& body, const std::string& boundary, std::vector<ByteRange> asked);

    // Moves to the next part, skipping what is left of the current one. True
    // when there is one (Part() reads its bytes); false at the end of the
    // parts or when the body is broken (Failed()).
    bool NextPart();
    // The current part's bytes; a short read means the body ended early.
    wxInputStream& Part() { return *part; }
    bool Failed() const { return failed; }

private:
    std::optional<std::string> ReadLine();
    bool IsDelimiter(const std::string& line) const;
    bool Fail();
    bool SkipPart();
    // Reads the part's headers; the asked range it names, or none.
    std::optional<ByteRange> ReadHeaders();

    wxInputStream& body;
    const std::string delimiter;
    const std::vector<ByteRange> asked;
    std::size_t parts = 0;
    std::unique_ptr<LimitedInputStream> part;
    bool ended = false;
    bool failed = false;
};
