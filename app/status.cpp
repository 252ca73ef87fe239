// Status line, progress bar and log.
#include "app/status.h"

#include <commctrl.h>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/window.h"

HANDLE log_file = INVALID_HANDLE_VALUE;
HWND status_label = nullptr;
HWND progress_bar = nullptr;

// Room for one converted line: the text and its terminating zero take at
// most kLineRoom bytes; the zero becomes CR and LF follows it.
static const int kLineRoom = 4093;

static void AppendLogLine(const wchar_t* text) {
  char line[4096];
  int count = Utf8FromText(text, line, kLineRoom);
  if (count == 0) return;
  line[count - 1] = '\r';
  line[count] = '\n';
  // A log that cannot be written must not stop the update.
  WriteAll(log_file, line, static_cast<uint32_t>(count + 1));
  FlushFile(log_file);
}

void ReportStatus(const wchar_t* text) {
  SetControlText(status_label, text);
  if (log_file != INVALID_HANDLE_VALUE) AppendLogLine(text);
}

void SetProgressRange(int32_t count) {
  SendToControl(progress_bar, PBM_SETRANGE32, 0, count);
}

void SetProgressPos(int32_t position) {
  SendToControl(progress_bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// The byte figures are drawn only with progress=bytes; until then the bar
// keeps its one step per file.
void SetDownloadBytes(uint64_t, uint64_t) {}
void AddDownloadBytes(uint64_t) {}
