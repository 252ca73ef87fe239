// Status reporting and the work area, in-process: the label, the log's
// exact bytes, the progress bar, and the work area's folders and handles.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "app/config.h"
#include "app/status_window.h"
#include "app/work_area.h"
#include "support/files.h"
#include "support/window_probe.h"

namespace {

// A real label and progress bar in a hidden window of this process.
class Controls {
 public:
  Controls() {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 200, nullptr, nullptr, nullptr, nullptr);
    label = CreateWindowExW(0, L"STATIC", L"initial", WS_CHILD, 0, 0, 540, 50, parent, nullptr, nullptr, nullptr);
    bar = CreateWindowExW(0, L"msctls_progress32", nullptr, WS_CHILD, 0, 60, 540, 20, parent, nullptr, nullptr,
                          nullptr);
  }
  ~Controls() { DestroyWindow(parent); }
  HWND parent, label, bar;
};

class StatusTest : public testing::Test {
 protected:
  void SetUp() override {
    log_path = Join(FreshTestFolder(), L"updater.log");
    log_file = CreateFileW(log_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(log_file, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    CloseHandle(log_file);
    log_file = INVALID_HANDLE_VALUE;
    status_label = nullptr;
    progress_bar = nullptr;
  }
  std::wstring log_path;
};

// Each line is the text's UTF-8 bytes and CR LF, readable by another
// handle as soon as the call returns; a text needing 4,093 bytes or more is
// shown but not logged.
TEST_F(StatusTest, LogLinesAreExactUtf8AndTheLabelShowsEverything) {
  Controls controls;
  status_label = controls.label;
  std::wstring hangul_4092(1364, L'가');  // three bytes each: 4,092 bytes
  struct {
    const char* what;
    std::wstring text;
    bool logged;
  } const cases[] = {
      {"Korean", L"파일 확인 중: Quenfar8.exe", true},
      {"empty", L"", true},
      {"4,092 ASCII bytes", std::wstring(4092, L'a'), true},
      {"4,093 ASCII bytes", std::wstring(4093, L'a'), false},
      {"4,092 bytes of Hangul", hangul_4092, true},
      {"4,093 bytes, Hangul and one letter", hangul_4092 + L"a", false},
      {"4,094 bytes, a character that does not fit", std::wstring(1364, L'가') + L"가", false},
      {"after the refused ones", L"다음 줄", true},
  };
  std::string expected;
  for (const auto& c : cases) {
    ReportStatus(c.text.c_str());
    if (c.logged) expected += Utf8(c.text) + "\r\n";
    EXPECT_EQ(ReadBytes(log_path), expected) << c.what;
    EXPECT_EQ(WindowText(controls.label), c.text) << c.what;
  }
  EXPECT_NE(expected.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
}

// The label and the log are independent of each other.
TEST_F(StatusTest, LabelAndLogWorkAlone) {
  ReportStatus(L"로그만");
  EXPECT_EQ(ReadBytes(log_path), "로그만\r\n");

  Controls controls;
  status_label = controls.label;
  CloseHandle(log_file);
  log_file = INVALID_HANDLE_VALUE;
  ReportStatus(L"창만");
  EXPECT_EQ(WindowText(controls.label), L"창만");
  EXPECT_EQ(ReadBytes(log_path), "로그만\r\n");
  log_file = CreateFileW(log_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(StatusTest, ProgressBarRangeAndPosition) {
  // Without a bar nothing happens (and nothing breaks).
  SetProgressRange(5);
  SetProgressPos(3);
  Controls controls;
  int low = -1, high = -1;
  ProgressRange(controls.bar, &low, &high);
  EXPECT_EQ(high, 100) << "the control keeps its own range until the run sets one";
  progress_bar = controls.bar;
  SetProgressRange(5);
  ProgressRange(controls.bar, &low, &high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 5);
  for (int position = 1; position <= 5; ++position) {
    SetProgressPos(position);
    EXPECT_EQ(ProgressPos(controls.bar), position);
  }
  SetProgressRange(128);
  ProgressRange(controls.bar, &low, &high);
  EXPECT_EQ(high, 128);
}

class WorkAreaTest : public testing::Test {
 protected:
  void SetUp() override {
    memset(&config, 0, sizeof config);
    install = FreshTestFolder();
    wcscpy(config.install_dir, install.c_str());
  }
  void TearDown() override {
    if (log_file != INVALID_HANDLE_VALUE) CloseHandle(log_file);
    if (lock_file != INVALID_HANDLE_VALUE) CloseHandle(lock_file);
    log_file = INVALID_HANDLE_VALUE;
    lock_file = INVALID_HANDLE_VALUE;
  }
  std::wstring install;
};

TEST_F(WorkAreaTest, SetsPathsHoldsTheLockAndOpensTheLog) {
  ASSERT_EQ(PrepareWorkArea(), 1);
  std::wstring work = Join(install, L".quenfar8-update");
  std::wstring run = config.run_dir;
  ASSERT_EQ(run.substr(0, work.size() + 1), work + L"\\");
  std::wstring name = run.substr(work.size() + 1);
  EXPECT_EQ(name.substr(16), std::to_wstring(GetCurrentProcessId()));
  EXPECT_EQ(std::wstring(config.manifest_path), Join(run, L"manifest.ini"));
  EXPECT_FALSE(Exists(config.manifest_path));
  EXPECT_TRUE(IsFolder(Join(run, L"new")));
  EXPECT_TRUE(IsFolder(Join(run, L"backup")));
  EXPECT_EQ(ReadBytes(Join(run, L"updater.log")), "");

  // The lock admits nobody else, not even a reader.
  HeldFile other_lock(Join(work, L"updater.lock"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
  EXPECT_FALSE(other_lock.ok());
  // The log may be read by another program, never written.
  HeldFile reader(Join(run, L"updater.log"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_TRUE(reader.ok());
  HeldFile writer(Join(run, L"updater.log"), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_FALSE(writer.ok());
}

// When the run folder's name is taken, the work area fails and lets go of
// the lock.
TEST_F(WorkAreaTest, TakenRunFolderNameReleasesTheLock) {
  std::wstring work = Join(install, L".quenfar8-update");
  MakeFolder(work);
  // Take the names of the next few seconds for this process.
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME file_time;
  SystemTimeToFileTime(&now, &file_time);
  ULARGE_INTEGER ticks = {{file_time.dwLowDateTime, file_time.dwHighDateTime}};
  for (int second = 0; second < 5; ++second) {
    ULARGE_INTEGER later = ticks;
    later.QuadPart += ULONGLONG(second) * 10000000ULL;
    FILETIME later_time = {later.LowPart, later.HighPart};
    SYSTEMTIME t;
    FileTimeToSystemTime(&later_time, &t);
    wchar_t name[64];
    swprintf(name, 64, L"%04u%02u%02u-%02u%02u%02u-%lu", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
             GetCurrentProcessId());
    MakeFolder(Join(work, name));
  }
  EXPECT_EQ(PrepareWorkArea(), 0);
  HeldFile lock(Join(work, L"updater.lock"), GENERIC_READ | GENERIC_WRITE, 0);
  EXPECT_TRUE(lock.ok()) << "the lock was not released";
  for (const std::wstring& folder : ListFolder(work)) {
    if (folder != L"updater.lock") EXPECT_TRUE(ListFolder(Join(work, folder)).empty()) << Utf8(folder);
  }
}

}  // namespace
