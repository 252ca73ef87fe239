// Status line, progress bar and log.
#include "app/status_window.h"

#include <commctrl.h>

#include <atomic>

#include "app/config.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/win/start_up.h"
#include "platform/text.h"
#include "platform/win/window.h"

HANDLE log_file = NO_FILE;
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
  if (log_file != NO_FILE) AppendLogLine(text);
}

// Byte progress (progress=bytes). The worker writes these, the window
// thread reads them: atomics, so that a 64-bit figure is never read half
// written.
static std::atomic<uint64_t> download_done{0};   // bytes received or at hand
static std::atomic<uint64_t> download_total{0};  // bytes of the whole download; 0 before it starts
static std::atomic<int32_t> bar_shows_bytes{0};  // 1 once the bar runs over bytes

// Steps of the bar in byte mode: its range is a 32-bit number, a download
// may be larger.
static const int32_t kBarSteps = 10000;

// The rate is taken over this many of the latest drawings (about four a
// second), and only once they span at least kRateMinimumSpan.
static const uint32_t kRateSamples = 20;
static const uint64_t kRateMinimumSpan = 1000;  // milliseconds

// One drawing's moment and figure.
struct ByteSample {
  uint64_t at;    // MillisecondsNow()
  uint64_t done;  // download_done then
};
static ByteSample samples[kRateSamples];  // ring of the latest drawings, window thread only
static uint32_t sample_count = 0;          // samples taken so far (the ring holds the last kRateSamples)

HWND bytes_label = nullptr;

// The per-file steps stop once the worker has set a byte total, not once
// the window thread has first drawn it: a step judged by the window
// thread's flag could still be sent after the bar had changed over, and
// land on the byte range (or set the range back to the file count).
void SetProgressRange(int32_t count) {
  if (download_total.load() != 0) return;
  SendToControl(progress_bar, PBM_SETRANGE32, 0, count);
}

void SetProgressPos(int32_t position) {
  if (download_total.load() != 0) return;
  SendToControl(progress_bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void SetDownloadBytes(uint64_t done, uint64_t total) {
  if (!config.progress_bytes) return;
  download_done.store(done);
  download_total.store(total);
}

void AddDownloadBytes(uint64_t bytes) {
  if (!config.progress_bytes) return;
  download_done.fetch_add(bytes);
}

void DropDownloadBytes(uint64_t bytes) {
  if (!config.progress_bytes) return;
  // Only the worker changes the figure, so a load and a store suffice.
  uint64_t done = download_done.load();
  download_done.store(done > bytes ? done - bytes : 0);
}

// Bytes per second over the samples in the ring; 0 when they do not span
// long enough yet.
static int RecentRate(uint64_t* rate) {
  if (sample_count < 2) return 0;
  const ByteSample& newest = samples[(sample_count - 1) % kRateSamples];
  const ByteSample& oldest = samples[sample_count > kRateSamples ? sample_count % kRateSamples : 0];
  uint64_t span = newest.at - oldest.at;
  if (span < kRateMinimumSpan) return 0;
  // Dropped bytes took the figure back: no rate until the samples are past it.
  if (newest.done < oldest.done) return 0;
  *rate = (newest.done - oldest.done) * 1000 / span;
  return 1;
}

// "1시간 2분", "3분 12초", "48초".
static void FormatTimeLeft(wchar_t* out, size_t capacity, uint64_t seconds) {
  if (seconds >= 3600) {
    FormatText(out, capacity, L"%u시간 %u분", static_cast<unsigned>(seconds / 3600),
               static_cast<unsigned>(seconds % 3600 / 60));
  } else if (seconds >= 60) {
    FormatText(out, capacity, L"%u분 %u초", static_cast<unsigned>(seconds / 60), static_cast<unsigned>(seconds % 60));
  } else {
    FormatText(out, capacity, L"%u초", static_cast<unsigned>(seconds));
  }
}

// The label's line: done of total, then the rate and the time left once a
// rate is known (the time left only while bytes still come).
static void FormatByteLine(wchar_t* line, size_t capacity, uint64_t done, uint64_t total) {
  wchar_t done_text[32];
  wchar_t total_text[32];
  FormatByteSize(done_text, 32, done);
  FormatByteSize(total_text, 32, total);
  uint64_t rate = 0;
  if (done >= total) {
    FormatText(line, capacity, L"받기 완료: %ls / %ls", done_text, total_text);
  } else if (!RecentRate(&rate)) {
    FormatText(line, capacity, L"받는 중: %ls / %ls", done_text, total_text);
  } else if (rate == 0) {
    FormatText(line, capacity, L"받는 중: %ls / %ls · 0 바이트/초", done_text, total_text);
  } else {
    wchar_t rate_text[32];
    wchar_t left_text[32];
    FormatByteSize(rate_text, 32, rate);
    FormatTimeLeft(left_text, 32, (total - done + rate - 1) / rate);
    // The time left on a line of its own: the label is two lines high and
    // narrower than the whole line, which would otherwise wrap wherever
    // the width runs out, even between a number and its unit.
    FormatText(line, capacity, L"받는 중: %ls / %ls · %ls/초\r\n남은 시간 %ls", done_text, total_text, rate_text,
               left_text);
  }
}

void DrawDownloadBytes() {
  uint64_t total = download_total.load();
  if (total == 0) return;
  uint64_t done = download_done.load();
  if (done > total) done = total;  // a body that runs past its size fails; the bar stops at its end
  if (!bar_shows_bytes.load()) {
    bar_shows_bytes.store(1);
    SendToControl(progress_bar, PBM_SETRANGE32, 0, kBarSteps);
  }
  SendToControl(progress_bar, PBM_SETPOS, static_cast<WPARAM>(done * kBarSteps / total), 0);
  samples[sample_count % kRateSamples] = ByteSample{MillisecondsNow(), done};
  ++sample_count;
  wchar_t line[STATUS_CAPACITY];
  FormatByteLine(line, STATUS_CAPACITY, done, total);
  SetControlText(bytes_label, line);
}
