// Status reporting: the window's label, the progress bar and the log.
#pragma once

#include <stdint.h>

// What the shared code reports through. Each program defines these for its
// own front end (app/status.cpp for the updater's window and log,
// release/front_end.cpp for the release tool); the updater's window and log
// handles are in app/status_window.h, apart from these, so that the shared
// code never sees a Windows type.

// Shows text in the status label and appends it to the log as one UTF-8
// line ended by CR LF, flushed before returning. A text whose UTF-8 form
// needs more than 4092 bytes is shown but not logged. Called by the worker
// during the run and by the main thread after it, never by both at once.
void ReportStatus(const wchar_t* text);

// The progress bar's range becomes 0 to count.
void SetProgressRange(int32_t count);

// The progress bar moves to position.
void SetProgressPos(int32_t position);

// Byte progress of the run's downloads, for progress=bytes. The run sets
// the bytes already at hand and the total of its downloads before they
// start; the fetcher adds each chunk as it arrives. Both only record the
// figures (the worker calls them, the window thread draws them) and do
// nothing unless the front end shows bytes. From a total above 0 on, the
// bar belongs to the bytes and the per-file steps are passed over.
void SetDownloadBytes(uint64_t done, uint64_t total);
void AddDownloadBytes(uint64_t bytes);

// Bytes counted as done that a download has dropped (it starts a file
// again from byte 0, or fetches it whole once more): they come again and
// must not count twice.
void DropDownloadBytes(uint64_t bytes);

// Draws the recorded byte figures: the bar over the whole download, and in
// bytes_label the bytes done of the total, the rate over the last few
// seconds and the time left (once a rate is known). Called on the window
// thread about four times a second while the run goes on, and once more
// when it ends; does nothing before the downloads start.
void DrawDownloadBytes();
