#pragma once

#include <wx/stream.h>

#include <cstdint>
#include <functional>
#include <utility>

// Reads a manifest's XML as a stream and hands each child of the root element
// to a handler, building no tree: memory stays flat however many records the
// document holds. Whatever a document holds, the work is bounded: the bytes
// read, the nesting, the length of any one tag, comment or declaration; a
// document type declaration (and with it every entity but the predefined
// ones) is refused.
class ManifestParser {
public:
    enum Outcome {
        COMPLETE,  // the whole document was read
        REFUSED,   // the handler stopped at a child
        MALFORMED, // not well-formed, beyond a bound, or a failed read
        STOPPED,   // the stop check said so
    };

    // An element (the root, or a child of the root), valid only during the handler's call. Text other
    // than white space directly under the root is a child named "text"
    // without attributes.
    class Child {
    public:
        Child(const char* name, const char* const* attributes) : name(name), attributes(attributes) {}
        const char* Name() const { return name; }
        // The value (UTF-8, references resolved), or null when the child lacks it.
        const char* Attribute(const char* attributeName) const;

    private:
        const char* name;
        const char* const* attributes; // name, value, name, value, ..., null
    };

    // False from the handler stops the parse with REFUSED.
    using ChildHandler = std::function<bool(const Child&)>;
    // Asked between reads; true stops the parse with STOPPED.
    using StopCheck = std::function<bool()>;

    // The most XML a manifest may hold: a stop for a compressed bomb or an
    // endless body, some 170,000 records.
    static constexpr std::uint64_t MAX_XML_BYTES = 32 * 1024 * 1024;

    explicit ManifestParser(ChildHandler onChild, StopCheck stopRequested = {});

    // Hands the root element to onRoot before any child; false stops the parse with REFUSED.
    void SetRootHandler(ChildHandler onRoot) { this->onRoot = std::move(onRoot); }
    // Hands each element inside a child of the root to onGrandchild, after
    // that child; false stops the parse with REFUSED. Without it they are skipped.
    void SetGrandchildHandler(ChildHandler onGrandchild) { this->onGrandchild = std::move(onGrandchild); }

    // Reads xml to its end. The source's own complaints are kept out of the log.
    Outcome Parse(wxInputStream& xml);

private:
    static void OnStart(void* self, const char* name, const char** attributes);
    static void OnEnd(void* self, const char* name);
    static void OnText(void* self, const char* text, int length);
    static void OnDoctype(void* self, const char*, const char*, const char*, int);

    // Ends the parse from inside a callback.
    void Abort(Outcome reason);

    ChildHandler onChild;
    ChildHandler onRoot;
    ChildHandler onGrandchild;
    StopCheck stopRequested;
    struct XML_ParserStruct* parser = nullptr;
    int depth = 0;
    Outcome outcome = COMPLETE;
};
