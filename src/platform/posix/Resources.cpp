#include "platform/Resources.h"

#include "platform/posix/EmbeddedResources.h"

std::span<const unsigned char> platform::LoadResourceData(const wxString& name, const wxString& type)
{
    for (std::size_t i = 0; i < EMBEDDED_RESOURCE_COUNT; ++i) {
        const EmbeddedResource& resource = EMBEDDED_RESOURCES[i];
        // Windows compares resource names and types without regard to case.
        if (name.IsSameAs(resource.name, false) && type.IsSameAs(resource.type, false))
            return {resource.data, resource.size};
    }
    return {};
}
