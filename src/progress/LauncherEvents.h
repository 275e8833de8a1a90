#pragma once

#include <wx/event.h>

// The launcher's own events, posted with AddPendingEvent to the main window
// from whatever thread reports, with identifier -1; the payload, if any, is in
// GetInt or GetString. They are thread events because the base library, which
// the workers use, has no command events, and because a thread event's copy
// owns its text outright, so nothing is shared with the poster.

// GetInt: the new gauge position; the payload, the units it stands for (ProgressUnits).
wxDECLARE_EVENT(wxEVT_PROGRESS_UPDATED, wxThreadEvent);
// GetInt: the new gauge range, scaled to fit an int; the payload, its units.
wxDECLARE_EVENT(wxEVT_PROGRESS_RANGE_UPDATED, wxThreadEvent);
wxDECLARE_EVENT(wxEVT_PROGRESS_PULSE, wxThreadEvent);
// GetString: the finished text; GetInt: its MessageKind.
wxDECLARE_EVENT(wxEVT_STATUS_MESSAGE, wxThreadEvent);
// The check found files to download.
wxDECLARE_EVENT(wxEVT_START_UPDATE, wxThreadEvent);
wxDECLARE_EVENT(wxEVT_UPDATE_STARTED, wxThreadEvent);
// The update ended without success.
wxDECLARE_EVENT(wxEVT_UPDATE_STOPPED, wxThreadEvent);
// Every file is installed.
wxDECLARE_EVENT(wxEVT_UPDATE_FINISHED, wxThreadEvent);
wxDECLARE_EVENT(wxEVT_NO_CHANGES_FOUND, wxThreadEvent);
wxDECLARE_EVENT(wxEVT_DISABLE_PLAY, wxThreadEvent);
// GetInt: the self-update result code.
wxDECLARE_EVENT(wxEVT_SELF_UPDATE_DONE, wxThreadEvent);
// GetInt: 0 when the logs were sent or there was nothing to send, -1 on failure.
wxDECLARE_EVENT(wxEVT_LOG_UPLOAD_DONE, wxThreadEvent);
wxDECLARE_EVENT(wxEVT_GAME_TERMINATED, wxThreadEvent);
