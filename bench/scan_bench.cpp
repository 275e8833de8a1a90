// The start-up verification of an unchanged installation: CheckLocalChanges
// over 20,000 small files against `find` listing the same sizes and times, and
// the bytes read meanwhile, which must stay near zero (no file content read).
#include "update/LocalManifest.h"

#include <wx/init.h>
#include <wx/log.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

namespace {

const int DIRECTORIES = 200;
const int FILES_PER_DIRECTORY = 100;
const int RUNS = 7;

void CreateTree(const std::filesystem::path& root)
{
    for (int d = 0; d < DIRECTORIES; ++d) {
        const std::filesystem::path dir = root / ("dir" + std::to_string(d));
        std::filesystem::create_directories(dir);
        for (int f = 0; f < FILES_PER_DIRECTORY; ++f)
            std::ofstream(dir / ("file" + std::to_string(f) + ".dat"))
                << "content of " << d << "/" << f << "\n";
    }
}

// Best wall time of several runs, in milliseconds.
double BestOf(const std::function<void()>& run)
{
    double best = 1e300;
    for (int i = 0; i < RUNS; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

// Bytes this process has read through read() and its kind so far.
long long BytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return -1;
}

} // namespace

int main()
{
    wxInitializer toolkit;
    // Only failures are worth printing; a pass logs a line per hashed file.
    wxLog::SetLogLevel(wxLOG_Warning);

    const std::filesystem::path root = std::filesystem::temp_directory_path() /
                                       ("launcher-scan-bench-" + std::to_string(std::random_device{}()));
    CreateTree(root);

    LocalManifest manifest(wxString::FromUTF8(root.string()), "manifest2.xml");
    manifest.Scan();
    manifest.CheckLocalChanges(nullptr);
    std::printf("tree: %zu files in %d directories under %s\n", manifest.size(), DIRECTORIES, root.c_str());

    bool changed = false;
    const long long readBefore = BytesRead();
    const double ours = BestOf([&] { changed = manifest.CheckLocalChanges(nullptr) || changed; });
    const long long readDuring = BytesRead() - readBefore;

    const std::string command = "find '" + root.string() + "' -type f -printf '%s %T@\\n' > /dev/null";
    const double find = BestOf([&] {
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "find failed\n");
    });

    std::printf("CheckLocalChanges, unchanged tree: %8.2f ms (best of %d)%s\n", ours, RUNS,
                changed ? "  [a record changed: invalid run]" : "");
    std::printf("find -printf '%%s %%T@':            %8.2f ms (best of %d)\n", find, RUNS);
    std::printf("ratio ours/find:                   %8.2f (target: at most 2)\n", ours / find);
    std::printf("bytes read during %d unchanged passes: %lld (target: about 0)\n", RUNS, readDuring);

    std::filesystem::remove_all(root);
    return 0;
}
