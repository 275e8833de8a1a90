#include "ui/ProgressAmount.h"

#include <gtest/gtest.h>

namespace {

// Never a full bar before the last byte, never more than the whole, and sizes
// only for bytes.
TEST(ProgressAmount, DoneOfTotalAndAPercentage)
{
    constexpr std::int64_t MIB = 1 << 20;
    struct Row {
        std::int64_t done;
        std::int64_t total;
        bool bytes;
        const char* text;
    };
    const Row rows[] = {
        {0, 297 * MIB, true, "0.0 MB of 297.0 MB (0%)"},
        {1536 * MIB - 1, 1536 * MIB, true, "1.50 GB of 1.50 GB (99%)"},
        {3 * MIB, 2 * MIB, true, "2.0 MB of 2.0 MB (100%)"},
        {40, 160, false, "25%"},
        {5, 0, true, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ProgressAmountText(row.done, row.total, row.bytes), row.text) << row.done;
}

} // namespace
