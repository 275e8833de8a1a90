#pragma once

#include <wx/event.h>

#include <mutex>
#include <string>
#include <vector>

// Records what a ProgressNotifier posts instead of queueing it for an event
// loop, under its own lock since several threads may post at once.
class EventRecorder : public wxEvtHandler {
public:
    struct Event {
        wxEventType type;
        int value;
        std::string text;
    };

    void QueueEvent(wxEvent* event) override;

    // Hands over what was recorded so far and starts afresh.
    std::vector<Event> Take();
    std::vector<int> Values(wxEventType type) const;
    // Texts of the status messages.
    std::vector<std::string> Texts() const;

private:
    template <typename Field> std::vector<Field> Filter(wxEventType type, Field Event::*field) const;

    mutable std::mutex mutex;
    std::vector<Event> events;
};
