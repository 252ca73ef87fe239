#include "support/harness.h"

#include <commctrl.h>
#include <string.h>

#include "app/config.h"
#include "app/status_window.h"
#include "engine/file_table.h"
#include "support/files.h"

RunHarness::RunHarness() {
  root = FreshTestFolder();
  install = Join(root, L"install");
  run = Join(root, L"run");
  package = Join(root, L"package");
  MakeFolder(install);
  MakeFolder(run);
  MakeFolder(Join(run, L"new"));
  MakeFolder(Join(run, L"backup"));
  MakeFolder(package);
  memset(&config, 0, sizeof config);
  wcscpy(config.install_dir, install.c_str());
  wcscpy(config.run_dir, run.c_str());
  wcscpy(config.package_dir, package.c_str());
  wcscpy(config.manifest_path, Join(run, L"manifest.ini").c_str());
  memset(file_table, 0, sizeof file_table);
  entry_count = 0;
  status_label = nullptr;
  progress_bar = nullptr;
  log_file = CreateFileW(Join(run, L"updater.log").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

RunHarness::~RunHarness() {
  if (log_file != INVALID_HANDLE_VALUE) CloseHandle(log_file);
  log_file = INVALID_HANDLE_VALUE;
}

std::vector<std::string> RunHarness::Log() const {
  return CrLfLines(ReadBytes(Join(run, L"updater.log")));
}

static LRESULT CALLBACK RecorderProcedure(HWND window, UINT message, WPARAM first, LPARAM second) {
  ProgressRecorder* recorder = reinterpret_cast<ProgressRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (recorder != nullptr && message == PBM_SETRANGE32) {
    recorder->events.push_back("range " + std::to_string(int(first)) + " " + std::to_string(int(second)));
    return 0;
  }
  if (recorder != nullptr && message == PBM_SETPOS) {
    recorder->events.push_back("pos " + std::to_string(int(first)));
    return 0;
  }
  return DefWindowProcW(window, message, first, second);
}

ProgressRecorder::ProgressRecorder() {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = RecorderProcedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"ProgressRecorder";
  RegisterClassW(&window_class);  // fails harmlessly when already registered
  window_ = CreateWindowExW(0, L"ProgressRecorder", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  progress_bar = window_;
}

ProgressRecorder::~ProgressRecorder() {
  progress_bar = nullptr;
  DestroyWindow(window_);
}
