#include "ui/ProgressAmount.h"

#include <gtest/gtest.h>

namespace {

// Never a full bar before the last byte nor more than the whole; sizes only for bytes.
TEST(ProgressAmount, DoneOfTotalAndAPercentage)
{
    constexpr std::int64_t MIB = 1 << 20;
    EXPECT_EQ(ProgressAmountText(0, 297 * MIB, true), "0.0 MB of 297.0 MB (0%)");
    EXPECT_EQ(ProgressAmountText(1536 * MIB - 1, 1536 * MIB, true), "1.50 GB of 1.50 GB (99%)");
    EXPECT_EQ(ProgressAmountText(3 * MIB, 2 * MIB, true), "2.0 MB of 2.0 MB (100%)");
    EXPECT_EQ(ProgressAmountText(40, 160, false), "25%");
    EXPECT_EQ(ProgressAmountText(5, 0, true), "");
}

} // namespace
