#pragma once

#include <wx/string.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

class TestSigningKey;

// A release laid out by hand, for tests that need exact offsets and gaps or
// names that no release tool would write: archives of raw members, the
// gzip'ed manifest and the version answer, as an update server serves them.
class TestRelease {
public:
    // Appends a file's data to archive after gap filler bytes; compressed
    // stores it as raw deflate. Returns its offset.
    std::uint32_t Add(const std::string& name, const std::string& content, bool compressed = false,
                      const std::string& archive = "a.zip", std::uint32_t gap = 0);
    // A record whose attributes are written as given (name first).
    void AddRawRecord(const std::string& attributes) { records.push_back(attributes); }
    // Appends attributes to the record added last.
    void AppendAttributes(const std::string& attributes) { records.back() += " " + attributes; }
    // Gives an attribute of the record added last another value; an empty one removes it.
    void ReplaceAttribute(const std::string& attribute, const std::string& value);
    // The root element's attributes in place of version="<the published version>".
    void SetRootAttributes(const std::string& attributes) { rootAttributes = attributes; }
    // Writes the checksums of the records added so far in capitals.
    void UpperCaseDigests();
    // Writes the archives, "<version>.xml.gz" (and its ".sig" when a signer is
    // given), "version-win-<language>.php" and "launcherVersion.inf" naming the
    // running launcher into root.
    void Publish(const wxString& root, const std::string& version, const std::string& language = "draft",
                 const TestSigningKey* signer = nullptr) const;
    // The installed content of every file added, by manifest name.
    const std::map<std::string, std::string>& Files() const { return files; }

private:
    std::map<std::string, std::string> archives;
    std::map<std::string, std::string> files;
    std::vector<std::string> records;
    std::optional<std::string> rootAttributes;
};
