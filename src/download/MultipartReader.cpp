#include "download/MultipartReader.h"

#include "download/WasteOutputStream.h"

#include <cstring>
#include <strings.h>

namespace {

// Generous for the few short lines that servers put around each part.
constexpr std::size_t MAX_LINE = 1024;
constexpr int MAX_HEADER_LINES = 16;
constexpr int MAX_PREAMBLE_LINES = 4;

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

std::string TrimmedRight(std::string text)
{
    text.erase(text.find_last_not_of(" \t\r") + 1);
    return text;
}

} // namespace

std::string MultipartReader::Boundary(const std::string& contentType)
{
    if (!StartsWithNoCase(contentType, "multipart/byteranges")) {
        return std::string();
    }
    const std::size_t found = contentType.find("boundary=");
    if (found == std::string::npos) {
        return std::string();
    }
    std::string boundary = contentType.substr(found + 9);
    if (!boundary.empty() && boundary.front() == '"') {
        const std::size_t close = boundary.find('"', 1);
        return close == std::string::npos ? std::string() : boundary.substr(1, close - 1);
    }
    return boundary.substr(0, boundary.find_first_of("; \t"));
}

MultipartReader::MultipartReader(wxInputStream& body, const std::string& boundary,
                                 std::vector<ByteRange> asked)
    : body(body), delimiter("--" + boundary), asked(std::move(asked))
{
}

bool MultipartReader::NextPart()
{
    if (ended || failed) {
        return false;
    }
    if (part) {
        // The part's bytes end with a bare line break before the delimiter.
        const std::optional<std::string> lineEnd = SkipPart() ? ReadLine() : std::nullopt;
        if (!lineEnd || !lineEnd->empty()) {
            return Fail();
        }
    }
    std::optional<std::string> line = ReadLine();
    // A preamble of a line or two may come first (nginx sends an empty line).
    for (int skipped = 0; parts == 0 && line && !IsDelimiter(*line) && skipped < MAX_PREAMBLE_LINES;
         ++skipped) {
        line = ReadLine();
    }
    if (!line || !IsDelimiter(*line)) {
        return Fail();
    }
    if (TrimmedRight(*line) != delimiter) {
        ended = true;
        part.reset();
        return parts == asked.size() ? false : Fail();
    }
    const std::optional<ByteRange> range = ReadHeaders();
    if (!range) {
        return Fail();
    }
    part = std::make_unique<LimitedInputStream>(&body, range->Length());
    ++parts;
    return true;
}

bool MultipartReader::IsDelimiter(const std::string& line) const
{
    const std::string marker = TrimmedRight(line);
    return marker == delimiter || marker == delimiter + "--";
}

std::optional<ByteRange> MultipartReader::ReadHeaders()
{
    std::optional<ByteRange> range;
    for (int count = 0; count <= MAX_HEADER_LINES; ++count) {
        const std::optional<std::string> line = ReadLine();
        if (!line) {
            return std::nullopt;
        }
        if (line->empty()) {
            // Only the next range asked for may come.
            const bool expected = range && parts < asked.size() && *range == asked[parts];
            return expected ? range : std::nullopt;
        }
        if (StartsWithNoCase(*line, "Content-Range:")) {
            range = ParseContentRange(std::string_view(*line).substr(14));
        }
    }
    return std::nullopt;
}

bool MultipartReader::SkipPart()
{
    WasteOutputStream rest;
    part->Read(rest);
    return part->Eof() || Fail();
}

// One line without its CR LF; none at the body's end, on a read error or for
// a line longer than MAX_LINE. The closing delimiter may lack its line break.
std::optional<std::string> MultipartReader::ReadLine()
{
    std::string line;
    char byte = 0;
    while (body.Read(&byte, 1).LastRead() == 1) {
        if (byte == '\n') {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (line.size() == MAX_LINE) {
            return std::nullopt;
        }
        line += byte;
    }
    const bool closing = TrimmedRight(line) == delimiter + "--";
    if (!closing || body.GetLastError() == wxSTREAM_READ_ERROR) {
        return std::nullopt;
    }
    return line;
}

bool MultipartReader::Fail()
{
    failed = true;
    part.reset();
    return false;
}
