// Throughput of FileMD5 beside coreutils md5sum on the same file with the page
// cache warm, and the peak memory that hashing the file adds.
//
//   md5_bench [file]    without a file, a 1 GiB one is made and removed again

#include "common/MD5.h"

#include <wx/filename.h>
#include <wx/init.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int Rounds = 5;
constexpr std::uint64_t GeneratedSize = std::uint64_t(1) << 30;

// A 1 GiB file of xorshift output in a fresh temporary directory.
class GeneratedFile {
public:
    GeneratedFile()
    {
        std::string pattern = (wxFileName::GetTempDir() + "/md5-bench-XXXXXX").ToStdString();
        if (mkdtemp(pattern.data()) == nullptr)
            return;
        dir = pattern;
        path = dir + "/random.bin";
        std::ofstream out(path, std::ios::binary);
        std::vector<std::uint64_t> block(1 << 17);
        std::uint64_t x = 0x9e3779b97f4a7c15;
        for (std::uint64_t written = 0; out && written < GeneratedSize; written += block.size() * 8) {
            for (std::uint64_t& word : block) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                word = x;
            }
            out.write(reinterpret_cast<const char*>(block.data()), block.size() * 8);
        }
        if (!out)
            path.clear();
    }
    ~GeneratedFile()
    {
        if (dir.empty())
            return;
        std::remove((dir + "/random.bin").c_str());
        rmdir(dir.c_str());
    }
    const std::string& Path() const { return path; }

private:
    std::string dir;
    std::string path;
};

std::string Md5sum(const std::string& path)
{
    FILE* pipe = popen(("md5sum -- '" + path + "'").c_str(), "r");
    if (pipe == nullptr)
        return "";
    char digest[33] = {};
    const bool read = std::fread(digest, 1, 32, pipe) == 32;
    return pclose(pipe) == 0 && read ? digest : "";
}

struct Measurement {
    double bestSeconds = 1e300;
    std::string digest;
};

template <typename Hash> void TimeOnce(Measurement& measurement, Hash hash)
{
    const auto start = std::chrono::steady_clock::now();
    measurement.digest = hash();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    measurement.bestSeconds = std::min(measurement.bestSeconds, elapsed.count());
}

long VmHWMKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long kib = -1;
    while (status >> key && key != "VmHWM:")
        status.ignore(1 << 10, '\n');
    status >> kib;
    return kib;
}

// Measured in a child, whose high-water mark starts from the resident size it
// inherits, so the figure is what hashing adds and nothing earlier.
bool PeakMemory(const std::string& path, long& beforeKiB, long& afterKiB)
{
    int channel[2];
    if (pipe(channel) != 0)
        return false;
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        long marks[2];
        marks[0] = VmHWMKiB();
        FileMD5(wxString::FromUTF8(path));
        marks[1] = VmHWMKiB();
        const bool sent = write(channel[1], marks, sizeof marks) == sizeof marks;
        _exit(sent ? 0 : 1);
    }
    close(channel[1]);
    long marks[2];
    const bool received = child > 0 && read(channel[0], marks, sizeof marks) == sizeof marks;
    close(channel[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    beforeKiB = marks[0];
    afterKiB = marks[1];
    return received;
}

} // namespace

int main(int argc, char** argv)
{
    wxInitializer toolkit;
    GeneratedFile generated;
    const std::string path = argc > 1 ? argv[1] : generated.Path();
    if (path.empty()) {
        std::fprintf(stderr, "could not create the test file\n");
        return 1;
    }
    const double megabytes = wxFileName::GetSize(wxString::FromUTF8(path)).ToDouble() / 1e6;

    Measurement ours, reference;
    auto fileMD5 = [&] { return FileMD5(wxString::FromUTF8(path)).ToStdString(); };
    auto md5sum = [&] { return Md5sum(path); };
    // The first pair only warms the page cache; rounds alternate so that drift
    // in machine load affects both alike.
    TimeOnce(ours, fileMD5);
    TimeOnce(reference, md5sum);
    ours.bestSeconds = reference.bestSeconds = 1e300;
    for (int round = 0; round < Rounds; ++round) {
        TimeOnce(ours, fileMD5);
        TimeOnce(reference, md5sum);
    }

    const double oursRate = megabytes / ours.bestSeconds;
    const double referenceRate = megabytes / reference.bestSeconds;
    std::printf("%s: %.0f MB, best of %d runs after a warm-up\n", path.c_str(), megabytes, Rounds);
    std::printf("  FileMD5 %8.1f MB/s  %s\n", oursRate, ours.digest.c_str());
    std::printf("  md5sum  %8.1f MB/s  %s\n", referenceRate, reference.digest.c_str());
    const bool match = !ours.digest.empty() && ours.digest == reference.digest;
    std::printf("  ratio FileMD5/md5sum %.2f, digests %s\n", oursRate / referenceRate,
                match ? "match" : "DIFFER");

    long beforeKiB = 0, afterKiB = 0;
    if (PeakMemory(path, beforeKiB, afterKiB))
        std::printf("  peak memory while hashing: +%ld KiB (VmHWM %ld -> %ld KiB)\n", afterKiB - beforeKiB,
                    beforeKiB, afterKiB);
    else
        std::printf("  peak memory: could not measure\n");
    return match ? 0 : 1;
}
