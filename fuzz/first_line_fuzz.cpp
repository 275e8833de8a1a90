// The first line of an answer (version query, telemetry token and events), fed
// from memory: it is short, holds no line end, and nothing past it is read.
#include "FuzzSupport.h"

#include "download/HTTPWrapper.h"

#include <wx/mstream.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartToolkitQuietly();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    wxMemoryInputStream stream(data, size);
    wxString line;
    const bool read = ReadFirstLine(stream, line);

    const auto* end = static_cast<const std::uint8_t*>(std::memchr(data, '\n', size));
    const auto* cr = static_cast<const std::uint8_t*>(std::memchr(data, '\r', size));
    if (cr != nullptr && (end == nullptr || cr < end))
        end = cr;
    const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - data) : size;
    FUZZ_CHECK(read == (length <= MAX_FIRST_LINE_BYTES));
    FUZZ_CHECK(static_cast<std::size_t>(stream.TellI()) <= std::min(size, MAX_FIRST_LINE_BYTES + 1));
    if (read) {
        FUZZ_CHECK(line.length() <= length);
        FUZZ_CHECK(!line.Contains("\n") && !line.Contains("\r"));
    }
    return 0;
}
