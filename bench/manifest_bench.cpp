// Reading the manifests of a 20,000-file release: the remote manifest from its
// gzip bytes and the local manifest from its file, beside Python's expat-based
// iterparse reading the same gzip manifest in the same run, and the rise in
// peak resident memory (VmHWM) while the remote manifest is read.
#include "update/LocalManifest.h"
#include "update/RemoteManifest.h"

#include <wx/init.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/zstream.h>

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

const int FILES = 20000;
const int RUNS = 5;

// A release as the release builder lays it out, with each file's size.
std::string ReleaseXml()
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<files>\n";
    char record[512];
    for (int i = 0; i < FILES; ++i) {
        std::snprintf(record, sizeof record,
                      "  <file name=\"dir%02d\\file%05d.res\" source_zip=\"1.0-%03d.zip\" "
                      "checksum=\"%032x\" permission=\"644\" offset=\"%d\" compressed_size=\"%d\" "
                      "compressed=\"true\" size=\"%d\"/>\n",
                      i % 40, i, 1 + i / 1000, i * 2654435761u, 100 + i * 5000, 4000 + i % 500, 9000 + i);
        xml += record;
    }
    return xml + "</files>\n";
}

std::string Gzip(const std::string& bytes)
{
    wxMemoryOutputStream out;
    {
        wxZlibOutputStream deflater(out, wxZ_DEFAULT_COMPRESSION, wxZLIB_GZIP);
        deflater.Write(bytes.data(), bytes.size());
    }
    std::string packed(out.GetSize(), '\0');
    out.CopyTo(packed.data(), packed.size());
    return packed;
}

double Milliseconds(const std::function<void()>& run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double BestOf(const std::function<void()>& run)
{
    double best = 1e300;
    for (int i = 0; i < RUNS; ++i)
        best = std::min(best, Milliseconds(run));
    return best;
}

// "VmHWM:" (peak) or "VmRSS:" (now) of this process.
long ResidentKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == field && status >> value)
            break;
    }
    return value;
}

bool ReadRemote(const std::string& gzip, RemoteManifest& manifest)
{
    wxMemoryInputStream body(gzip.data(), gzip.size());
    return manifest.Read(body, nullptr) && manifest.size() == FILES;
}

// Python's iterparse over the same file, records as tuples; its own timing
// of the best run, without the interpreter's start.
double PythonMilliseconds(const std::filesystem::path& gzipPath)
{
    const std::string command =
        "python3 -c 'import gzip, sys, time, xml.etree.ElementTree as ET\n"
        "best = 1e300\n"
        "for run in range(" +
        std::to_string(RUNS) +
        "):\n"
        "    start = time.perf_counter()\n"
        "    records = [tuple(e.attrib.values()) for _, e in ET.iterparse(gzip.open(sys.argv[1])) "
        "if e.tag == \"file\"]\n"
        "    best = min(best, time.perf_counter() - start)\n"
        "print(best * 1000 if len(records) == " +
        std::to_string(FILES) + " else -1)' '" + gzipPath.string() + "'";
    FILE* output = popen(command.c_str(), "r");
    double milliseconds = -1;
    if (output == nullptr)
        return milliseconds;
    if (std::fscanf(output, "%lf", &milliseconds) != 1)
        milliseconds = -1;
    pclose(output);
    return milliseconds;
}

} // namespace

int main()
{
    wxInitializer toolkit;
    wxLog::SetLogLevel(wxLOG_Warning);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("launcher-manifest-bench-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);

    const std::string gzip = Gzip(ReleaseXml());
    std::ofstream(dir / "1.0.xml.gz", std::ios::binary) << gzip;
    bool ok = true;
    // The peak starts again at what is resident now (Linux 4.0 and later).
    std::ofstream("/proc/self/clear_refs") << "5";
    const long residentBefore = ResidentKiB("VmRSS:");
    {
        RemoteManifest first;
        ok = ReadRemote(gzip, first);
    }
    const long peakRise = ResidentKiB("VmHWM:") - residentBefore;
    RemoteManifest remote;
    const double remoteMs = BestOf([&] { ok = ReadRemote(gzip, remote) && ok; });

    LocalManifest local(wxString::FromUTF8(dir.string()), "manifest2.xml");
    for (const ManifestFileInfo& record : remote)
        local.push_back(ManifestFileInfo(record.name, 1700000000, record.checksum, record.size));
    local.SaveDefault();
    const double localMs = BestOf([&] {
        local.clear();
        ok = local.LoadDefault() && local.size() == FILES && ok;
    });
    const double pythonMs = PythonMilliseconds(dir / "1.0.xml.gz");

    std::printf("%d records, %zu bytes of gzip manifest, best of %d\n", FILES, gzip.size(), RUNS);
    std::printf("RemoteManifest::Read        %8.1f ms\n", remoteMs);
    std::printf("LocalManifest::Load         %8.1f ms\n", localMs);
    std::printf("python3 ElementTree.iterparse %6.1f ms\n", pythonMs);
    std::printf("ratio remote/python         %8.2f\n", remoteMs / pythonMs);
    std::printf("peak memory rise, remote    %8ld KiB\n", peakRise);
    std::filesystem::remove_all(dir);
    return ok && pythonMs > 0 ? 0 : 1;
}
