// The progress line.
#include "release/progress.h"

#include "platform/console.h"
#include "platform/processes.h"
#include "platform/text.h"

static const wchar_t* progress_what = L"";  // what the line names
static uint64_t progress_total = 0;         // bytes of the whole piece of work
static uint64_t progress_done = 0;          // bytes done so far
static uint64_t progress_start_ms = 0;      // when the work began
static uint64_t progress_drawn_ms = 0;      // when the line was last drawn
static int progress_shown = 0;              // 1 while the line is on the console

// Redrawing more often than this only costs time.
static const uint64_t kRedrawMs = 250;

static void DrawLine() {
  uint64_t elapsed = MillisecondsNow() - progress_start_ms;
  double done_mib = static_cast<double>(progress_done) / 1048576.0;
  double rate = elapsed > 0 ? done_mib / (static_cast<double>(elapsed) / 1000.0) : 0.0;
  wchar_t line[256];
  // Carriage return first and blanks last: the line overwrites the one
  // drawn before it, whatever its length was.
  FormatInto(line, L"\r%ls: %.1f of %.1f MiB, %.1f MiB/s     ", progress_what, done_mib,
             static_cast<double>(progress_total) / 1048576.0, rate);
  WriteToStream(Stream::Err, line);
  progress_drawn_ms = MillisecondsNow();
}

void ProgressBegin(const wchar_t* what, uint64_t total) {
  progress_what = what;
  progress_total = total;
  progress_done = 0;
  progress_start_ms = MillisecondsNow();
  progress_drawn_ms = 0;
  progress_shown = StreamIsConsole(Stream::Err);
  if (progress_shown) DrawLine();
}

void ProgressAdd(uint64_t bytes) {
  progress_done += bytes;
  if (progress_shown && MillisecondsNow() - progress_drawn_ms >= kRedrawMs) DrawLine();
}

void ProgressPause() {
  if (!progress_shown) return;
  WriteToStream(Stream::Err, L"\r                                                                              \r");
  progress_drawn_ms = 0;
}

void ProgressEnd() {
  if (!progress_shown) return;
  DrawLine();
  WriteToStream(Stream::Err, L"\n");
  progress_shown = 0;
}
