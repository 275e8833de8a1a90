#include "download/ByteRange.h"

#include <charconv>
#include <strings.h>

namespace {

// Reads the decimal number at the front of text, which must be followed by
// separator (or end there when separator is 0), and moves text past both.
bool TakeNumber(std::string_view& text, char separator, std::uint64_t& number)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    const bool separated = separator == 0 ? stop == end : stop != end && *stop == separator;
    if (error != std::errc() || !separated)
        return false;
    text.remove_prefix(static_cast<std::size_t>(stop - text.data()) + (separator == 0 ? 0 : 1));
    return true;
}

} // namespace

std::optional<ByteRange> ParseContentRange(std::string_view value)
{
    constexpr const char* blanks = " \t\r\n";
    const std::size_t start = value.find_first_not_of(blanks);
    if (start == std::string_view::npos)
        return std::nullopt;
    value = value.substr(start, value.find_last_not_of(blanks) - start + 1);
    constexpr std::string_view unit = "bytes ";
    if (value.size() < unit.size() || strncasecmp(value.data(), unit.data(), unit.size()) != 0)
        return std::nullopt;
    value.remove_prefix(unit.size());
    ByteRange range;
    std::uint64_t total = 0;
    if (!TakeNumber(value, '-', range.first) || !TakeNumber(value, '/', range.last) ||
        range.last < range.first)
        return std::nullopt;
    if (value == "*" || (TakeNumber(value, 0, total) && range.last < total))
        return range;
    return std::nullopt;
}
