#include "support/TestRelease.h"

#include "app/Version.h"
#include "common/MD5.h"
#include "common/SHA256.h"
#include "support/Bytes.h"
#include "support/TempDir.h"
#include "support/TestSigningKey.h"

#include <cctype>
#include <sstream>

namespace {

// Stands in for the zip's local header, so that no member starts at 0.
const std::string ARCHIVE_HEADER(30, 'H');

std::string HexMD5(const std::string& bytes)
{
    MD5 context;
    context.Update(bytes.data(), bytes.size());
    unsigned char digest[16];
    context.Finalize(digest);
    return ToHexString(digest, sizeof digest).ToStdString();
}

std::string HexSHA256(const std::string& bytes)
{
    SHA256 context;
    context.Update(bytes.data(), bytes.size());
    return context.Finalize().ToStdString();
}

} // namespace

std::uint32_t TestRelease::Add(const std::string& name, const std::string& content, bool compressed,
                               const std::string& archive, std::uint32_t gap)
{
    std::string& data = archives[archive];
    if (data.empty())
        data = ARCHIVE_HEADER;
    data.append(gap, 'G');
    const auto offset = static_cast<std::uint32_t>(data.size());
    const std::string stored = compressed ? Deflate(content, RAW_DEFLATE) : content;
    data += stored;
    files[name] = content;
    std::ostringstream record;
    record << "name=\"" << name << "\" source_zip=\"" << archive << "\" checksum=\"" << HexMD5(content)
           << "\" offset=\"" << offset << "\" compressed_size=\"" << stored.size() << "\" compressed=\""
           << (compressed ? "true" : "false") << "\" sha256=\"" << HexSHA256(content) << "\"";
    records.push_back(record.str());
    return offset;
}

void TestRelease::ReplaceAttribute(const std::string& attribute, const std::string& value)
{
    std::string& record = records.back();
    const std::size_t start = record.find(" " + attribute + "=\"");
    const std::size_t end = record.find('"', start + attribute.size() + 3);
    record.replace(start, end + 1 - start, value.empty() ? "" : " " + attribute + "=\"" + value + "\"");
}

void TestRelease::UpperCaseDigests()
{
    for (std::string& record : records) {
        const std::size_t start = record.find("checksum=\"");
        for (std::size_t at = start + 10; start != std::string::npos && record[at] != '"'; ++at)
            record[at] = static_cast<char>(std::toupper(static_cast<unsigned char>(record[at])));
    }
}

void TestRelease::Publish(const wxString& root, const std::string& version, const std::string& language,
                          const TestSigningKey* signer) const
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<files " +
                      rootAttributes.value_or("version=\"" + version + "\"") + ">\n";
    for (const std::string& record : records)
        xml += "  <file " + record + " />\n";
    xml += "</files>\n";
    for (const auto& [name, bytes] : archives)
        WriteFileBytes(root + "/" + name, bytes);
    const std::string manifest = Deflate(xml, GZIP);
    WriteFileBytes(root + "/" + version + ".xml.gz", manifest);
    if (signer != nullptr)
        WriteFileBytes(root + "/" + version + ".xml.gz.sig", signer->Sign(manifest));
    WriteFileBytes(root + "/version-win-" + language + ".php", version + "\n");
    // The window asks for the current launcher before it looks at the game.
    WriteFileBytes(root + "/launcherVersion.inf", std::string(LAUNCHER_VERSION) + "\n");
}
