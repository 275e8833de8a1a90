#pragma once

#include <wx/string.h>

#include <cstddef>
#include <cstdint>

namespace platform {

// A regular file mapped read-only into memory, so that a large file can be
// read at random without holding a copy of it.
class MappedFile {
public:
    // Maps the regular file at path (a link at the name is not followed). An
    // empty file maps to no bytes.
    explicit MappedFile(const wxString& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False when the file could not be mapped.
    bool IsOk() const { return mapped; }
    const unsigned char* Data() const { return data; }
    std::uint64_t Size() const { return size; }
    // True while the file keeps the size and modification time it had when it was mapped.
    bool Unchanged() const;

private:
    int fd = -1;
    const unsigned char* data = nullptr;
    std::uint64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool mapped = false;
};

} // namespace platform
