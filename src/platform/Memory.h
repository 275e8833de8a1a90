#pragma once

#include <cstdint>

namespace platform {

// Total physical memory of the machine in bytes; 0 when the system does not say.
std::uint64_t GetTotalPhysicalMemory();

} // namespace platform
