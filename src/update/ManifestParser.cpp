#include "update/ManifestParser.h"

#include "download/BoundedInputStream.h"

#include <expat.h>
#include <wx/log.h>
#include <wx/strconv.h>

#include <cstring>
#include <memory>

namespace {

constexpr int READ_SIZE = 64 * 1024;
// A manifest has two levels; some room is left for publishers' extras inside a record.
constexpr int MAX_DEPTH = 16;
// The parser keeps a tag, comment or declaration whole until it ends; a record
// with a long path is a few KiB.
constexpr XML_Index MAX_MARKUP_BYTES = 64 * 1024;

bool IsBlank(const char* text, int length)
{
    for (int i = 0; i < length; ++i) {
        if (std::strchr(" \t\r\n", text[i]) == nullptr)
            return false;
    }
    return true;
}

// Encodings the parser lacks (it knows UTF-8, UTF-16, ISO-8859-1 and ASCII)
// come from the toolkit, one byte per character; others are refused.
int XMLCALL OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info)
{
    const wxCSConv conversion(wxString::FromUTF8(name));
    if (!conversion.IsOk())
        return XML_STATUS_ERROR;
    for (int byte = 0; byte < 256; ++byte) {
        const char single = static_cast<char>(byte);
        wchar_t wide[2];
        info->map[byte] = conversion.ToWChar(wide, 2, &single, 1) == 1 ? static_cast<int>(wide[0]) : -1;
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

} // namespace

const char* ManifestParser::Child::Attribute(const char* attributeName) const
{
    for (const char* const* pair = attributes; *pair != nullptr; pair += 2) {
        if (std::strcmp(pair[0], attributeName) == 0)
            return pair[1];
    }
    return nullptr;
}

ManifestParser::ManifestParser(ChildHandler onChild, StopCheck stopRequested)
    : onChild(std::move(onChild)), stopRequested(std::move(stopRequested))
{
}

ManifestParser::Outcome ManifestParser::Parse(wxInputStream& xml)
{
    const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> owned(XML_ParserCreate(nullptr),
                                                                        XML_ParserFree);
    if (!owned)
        return MALFORMED;
    parser = owned.get();
    depth = 0;
    outcome = COMPLETE;
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    XML_SetStartDoctypeDeclHandler(parser, OnDoctype);
    XML_SetUnknownEncodingHandler(parser, OnUnknownEncoding, nullptr);

    BoundedInputStream bounded(&xml, MAX_XML_BYTES);
    XML_Index fed = 0;
    for (;;) {
        if (stopRequested && stopRequested())
            return STOPPED;
        void* buffer = XML_GetBuffer(parser, READ_SIZE);
        if (buffer == nullptr)
            return MALFORMED;
        size_t read = 0;
        {
            wxLogNull quiet;
            read = bounded.Read(buffer, READ_SIZE).LastRead();
        }
        const bool last = read == 0;
        if (last && bounded.GetLastError() == wxSTREAM_READ_ERROR)
            return MALFORMED;
        if (XML_ParseBuffer(parser, static_cast<int>(read), last) != XML_STATUS_OK)
            return outcome == COMPLETE ? MALFORMED : outcome;
        if (last)
            return COMPLETE;
        // After a read the parser stands at the start of what it still holds.
        fed += static_cast<XML_Index>(read);
        if (fed - XML_GetCurrentByteIndex(parser) > MAX_MARKUP_BYTES)
            return MALFORMED;
    }
}

void ManifestParser::Abort(Outcome reason)
{
    outcome = reason;
    XML_StopParser(parser, XML_FALSE);
}

void ManifestParser::OnStart(void* self, const char* name, const char** attributes)
{
    auto& reader = *static_cast<ManifestParser*>(self);
    // The parser may still report what it had in hand when it was told to end.
    if (reader.outcome != COMPLETE)
        return;
    if (++reader.depth > MAX_DEPTH)
        reader.Abort(MALFORMED);
    else if (reader.depth == 1 && reader.onRoot && !reader.onRoot(Child(name, attributes)))
        reader.Abort(REFUSED);
    else if (reader.depth == 2 && !reader.onChild(Child(name, attributes)))
        reader.Abort(REFUSED);
    else if (reader.depth == 3 && reader.onGrandchild && !reader.onGrandchild(Child(name, attributes)))
        reader.Abort(REFUSED);
}

void ManifestParser::OnEnd(void* self, const char*)
{
    --static_cast<ManifestParser*>(self)->depth;
}

void ManifestParser::OnText(void* self, const char* text, int length)
{
    auto& reader = *static_cast<ManifestParser*>(self);
    static const char* const noAttributes[] = {nullptr};
    if (reader.outcome == COMPLETE && reader.depth == 1 && !IsBlank(text, length) &&
        !reader.onChild(Child("text", noAttributes)))
        reader.Abort(REFUSED);
}

void ManifestParser::OnDoctype(void* self, const char*, const char*, const char*, int)
{
    static_cast<ManifestParser*>(self)->Abort(MALFORMED);
}
