#pragma once

#include <cstddef>

// A file that the build compiled into the executable (resources/CMakeLists.txt).
struct EmbeddedResource {
    const char* name;
    const char* type;
    const unsigned char* data;
    std::size_t size;
};

// The generated table of every embedded file.
extern const EmbeddedResource EMBEDDED_RESOURCES[];
extern const std::size_t EMBEDDED_RESOURCE_COUNT;
