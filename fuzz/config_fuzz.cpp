// launcher.conf and user.conf: the input holds both, split at its first zero
// byte. The player's choices must survive a save and a load unchanged.
#include "FuzzSupport.h"

#include "app/LauncherConfig.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

namespace {

void WriteFile(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    std::ofstream(ScratchDir() + "/" + name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

LauncherConfig Loaded()
{
    LauncherConfig config;
    config.SetDefaults(wxString::FromUTF8(ScratchDir()));
    config.LoadConfig();
    return config;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartToolkitQuietly();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto* split = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t launcherSize = split != nullptr ? static_cast<std::size_t>(split - data) : size;
    WriteFile("launcher.conf", data, launcherSize);
    const std::size_t userStart = split != nullptr ? launcherSize + 1 : size;
    WriteFile("user.conf", data + userStart, size - userStart);

    LauncherConfig config = Loaded();
    // launcher.conf may move the game elsewhere; the settings stay here.
    config.baseDir = wxString::FromUTF8(ScratchDir());
    if (!config.SaveUserConfig())
        return 0;
    const LauncherConfig reloaded = Loaded();
    FUZZ_CHECK(reloaded.resolution == config.resolution);
    FUZZ_CHECK(reloaded.quality == config.quality);
    FUZZ_CHECK(reloaded.fullscreen == config.fullscreen);
    return 0;
}
