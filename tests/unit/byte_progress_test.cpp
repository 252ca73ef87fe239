// Byte progress (progress=bytes) in-process, with a real label and bar:
// what the window thread draws from the figures the worker records.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "app/config.h"
#include "app/status_window.h"
#include "support/files.h"
#include "support/window_probe.h"

namespace {

// A hidden window with the status line, the bar and the byte label.
class ByteControls {
 public:
  ByteControls() {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 200, nullptr, nullptr, nullptr, nullptr);
    progress_bar = CreateWindowExW(0, L"msctls_progress32", nullptr, WS_CHILD, 0, 60, 540, 20, parent, nullptr,
                                   nullptr, nullptr);
    bytes_label = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 90, 400, 40, parent, nullptr, nullptr, nullptr);
  }
  ~ByteControls() {
    DestroyWindow(parent);
    progress_bar = nullptr;
    bytes_label = nullptr;
  }
  HWND parent;
};

// Without progress=bytes nothing is recorded or drawn, and the bar keeps
// its per-file steps.
TEST(ByteProgress, WithoutTheKeyTheBarKeepsItsFileSteps) {
  ByteControls controls;
  config.progress_bytes = 0;
  SetProgressRange(4);
  SetDownloadBytes(0, 1000);
  AddDownloadBytes(500);
  DrawDownloadBytes();
  SetProgressPos(3);
  int low = -1, high = -1;
  ProgressRange(progress_bar, &low, &high);
  EXPECT_EQ(high, 4);
  EXPECT_EQ(ProgressPos(progress_bar), 3);
  EXPECT_EQ(WindowText(bytes_label), L"");
}

// With it: nothing before the downloads start; then the bar over the bytes
// (the per-file steps passed over) and the figures, without a rate until a
// second of figures is there; at the end the finished line.
TEST(ByteProgress, TheBarRunsOverTheBytesAndTheLabelShowsThem) {
  ByteControls controls;
  config.progress_bytes = 1;
  SetProgressRange(4);
  DrawDownloadBytes();
  EXPECT_EQ(WindowText(bytes_label), L"") << "drawn before the downloads started";

  SetDownloadBytes(0, 3 * 1048576ull);
  AddDownloadBytes(98304);
  DrawDownloadBytes();
  SetProgressPos(1);  // a file's step, passed over now
  int low = -1, high = -1;
  ProgressRange(progress_bar, &low, &high);
  EXPECT_EQ(high, 10000);
  EXPECT_EQ(ProgressPos(progress_bar), 312);
  EXPECT_EQ(WindowText(bytes_label), L"받는 중: 96.0 KB / 3.0 MB");

  AddDownloadBytes(3 * 1048576ull - 98304);
  DrawDownloadBytes();
  EXPECT_EQ(ProgressPos(progress_bar), 10000);
  EXPECT_EQ(WindowText(bytes_label), L"받기 완료: 3.0 MB / 3.0 MB");

  // A body that runs past its size (which then fails) never draws past the end.
  AddDownloadBytes(5000);
  DrawDownloadBytes();
  EXPECT_EQ(ProgressPos(progress_bar), 10000);
  EXPECT_EQ(WindowText(bytes_label), L"받기 완료: 3.0 MB / 3.0 MB");
}

// Bytes a download drops (a file started again from byte 0, or fetched
// whole once more after a wrong digest) come again: the figure goes back,
// so that the bar never shows the download finished while it goes on.
TEST(ByteProgress, DroppedBytesAreTakenBack) {
  ByteControls controls;
  config.progress_bytes = 1;
  SetDownloadBytes(0, 2 * 1048576ull);
  AddDownloadBytes(2 * 1048576ull);
  DropDownloadBytes(2 * 1048576ull);
  AddDownloadBytes(1048576);
  DrawDownloadBytes();
  EXPECT_EQ(ProgressPos(progress_bar), 5000);
  EXPECT_EQ(WindowText(bytes_label), L"받는 중: 1.0 MB / 2.0 MB");
}

}  // namespace
