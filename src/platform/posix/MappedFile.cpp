#include "platform/MappedFile.h"

#include "platform/OwnFile.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::int64_t ModifiedNanoseconds(const struct stat& status)
{
    return static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
}

} // namespace

platform::MappedFile::~MappedFile()
{
    if (data != nullptr)
        munmap(const_cast<unsigned char*>(data), size);
    if (fd >= 0)
        close(fd);
}

platform::MappedFile::MappedFile(const wxString& path) : fd(OpenRegularFile(path, FileAccess::Read))
{
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0)
        return;
    size = static_cast<std::uint64_t>(status.st_size);
    modifiedNanoseconds = ModifiedNanoseconds(status);
    void* address = size > 0 ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
    mapped = address != MAP_FAILED;
    if (mapped)
        data = static_cast<const unsigned char*>(address);
}

bool platform::MappedFile::Unchanged() const
{
    struct stat status;
    return fd >= 0 && fstat(fd, &status) == 0 && static_cast<std::uint64_t>(status.st_size) == size &&
           ModifiedNanoseconds(status) == modifiedNanoseconds;
}
