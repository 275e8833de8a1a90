#pragma once

#include "platform/MappedFile.h"
#include "update/PatchDecoder.h"

#include <wx/stream.h>
#include <wx/string.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// The bytes of a new file, made from a patch's stream (see PatchDecoder) and
// the installed file it was made from, which is mapped, never written. Every
// frame but the last fills its segment; the last ends the file. A patch that
// does not decode, does not give exactly the expected size or was made
// against a base that changed meanwhile fails the stream with a read error
// and Failure() saying why; a read error of the patch's own stream leaves
// Failure() empty.
class PatchInputStream : public wxInputStream {
public:
    // patch must outlive the stream; resultSize, when known, is the new file's.
    PatchInputStream(wxInputStream& patch, const wxString& basePath, std::optional<std::uint64_t> resultSize,
                     std::uint32_t segment);
    ~PatchInputStream() override;

    const wxString& Failure() const { return failure; }

protected:
    size_t OnSysRead(void* buffer, size_t size) override;

private:
    // Decodes the next frame; false at the end of the patch or on a failure.
    bool NextFrame();
    // Reads the next frame's bytes into frame; false at the end of the patch
    // (frameSize 0) or on a failure.
    bool ReadFrame();
    bool ReadMore();
    bool Fail(const wxString& reason);

    wxInputStream& patch;
    std::optional<std::uint64_t> resultSize;
    std::uint32_t segment;
    platform::MappedFile base;
    std::unique_ptr<PatchDecoder> decoder;
    std::vector<unsigned char> frame;
    std::size_t frameFilled = 0; // bytes read into frame, the next frame's included
    std::size_t frameSize = 0;   // of the frame at its start
    std::uint64_t produced = 0;
    std::size_t outputRead = 0;
    bool lastFrame = false;
    bool ended = false;
    wxString failure;
};
