#include "platform/Memory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

TEST(Memory, MatchesKernelTotal)
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    while (meminfo >> key && key != "MemTotal:")
        meminfo.ignore(256, '\n');
    ASSERT_TRUE(meminfo >> kib) << "no MemTotal in /proc/meminfo";

    const std::uint64_t bytes = platform::GetTotalPhysicalMemory();
    const std::uint64_t expected = kib * 1024;
    ASSERT_GT(bytes, 0u);
    // Both come from the same kernel count, rounded to pages and KiB.
    const std::uint64_t difference = bytes > expected ? bytes - expected : expected - bytes;
    EXPECT_LT(difference, 1024u * 1024u) << bytes << " bytes vs MemTotal " << expected;
}
