#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Bytes first to last of a resource, both included, as HTTP counts them.
struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;

    std::uint64_t Length() const { return last - first + 1; }
    bool operator==(const ByteRange&) const = default;
};

// "0-99,500-599": the value of a Range header after "bytes=".
inline std::string RangeList(const std::vector<ByteRange>& ranges)
{
    std::string list;
    for (const ByteRange& range : ranges) {
        list += (list.empty() ? "" : ",") + std::to_string(range.first) + "-" + std::to_string(range.last);
    }
    return list;
}

// The range that a Content-Range value names: " bytes 500-599/1000" (or
// ".../*") gives {500, 599}; anything else, a range past the total included,
// gives none.
std::optional<ByteRange> ParseContentRange(std::string_view value);
