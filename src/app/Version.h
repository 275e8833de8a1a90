#pragma once

// The launcher's own version, compared with the update server's launcher version.
inline constexpr char LAUNCHER_VERSION[] = "3.3.16";
