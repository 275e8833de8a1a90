#pragma once

#include <wx/init.h>
#include <wx/log.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

// The toolkit, set up once per fuzzing process with its log silenced: the code
// under test logs every decision, which would drown the fuzzer's own output.
inline void StartToolkitQuietly()
{
    static wxInitializer toolkit;
    wxLog::EnableLogging(false);
}

// A private directory under $TMPDIR (or /tmp) for targets that need files,
// removed when the process ends normally (fuzz/run.sh removes what a finding
// leaves). Never destroyed itself, so that the removal at exit can use it.
inline const std::string& ScratchDir()
{
    static const std::string* dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/launcher-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return new std::string(pattern);
    }();
    static const bool removedAtExit = std::atexit([] { std::filesystem::remove_all(*dir); }) == 0;
    (void)removedAtExit;
    return *dir;
}

// Stops the run as a finding: the fuzzer saves the input that led here.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);              \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
