#include "support/EventRecorder.h"

#include "progress/LauncherEvents.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

void EventRecorder::QueueEvent(wxEvent* event)
{
    std::unique_ptr<wxEvent> owned(event);
    const auto& posted = dynamic_cast<const wxThreadEvent&>(*event);
    EXPECT_EQ(posted.GetId(), -1);
    std::lock_guard lock(mutex);
    events.push_back({posted.GetEventType(), posted.GetInt(), posted.GetString().utf8_string()});
}

std::vector<EventRecorder::Event> EventRecorder::Take()
{
    std::lock_guard lock(mutex);
    return std::exchange(events, {});
}

std::vector<int> EventRecorder::Values(wxEventType type) const
{
    return Filter(type, &Event::value);
}

std::vector<std::string> EventRecorder::Texts() const
{
    return Filter(wxEVT_STATUS_MESSAGE, &Event::text);
}

template <typename Field>
std::vector<Field> EventRecorder::Filter(wxEventType type, Field Event::*field) const
{
    std::lock_guard lock(mutex);
    std::vector<Field> found;
    for (const Event& event : events) {
        if (event.type == type)
            found.push_back(event.*field);
    }
    return found;
}
