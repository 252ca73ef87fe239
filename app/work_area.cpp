// Work folder, lock, run folder and log.
#include "app/work_area.h"

#include "app/config.h"
#include "app/status_window.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/win/start_up.h"
#include "platform/text.h"
#include "platform/win/window.h"
#include "transfer/digest.h"

HANDLE lock_file = NO_FILE;

static const wchar_t kLockMessage[] = L"다른 패처가 실행 중이거나 설치 폴더에 쓰기 권한이 없습니다.";

// The work folder must be a real folder: never a file, and never a link or
// junction that would lead the updater's writes elsewhere.
static int IsRealFolder(const wchar_t* path) {
  uint32_t attributes = FileAttributes(path);
  if (attributes == NO_ATTRIBUTES) return 0;
  return (attributes & (ATTRIBUTE_FOLDER | ATTRIBUTE_LINK)) == ATTRIBUTE_FOLDER;
}

// Names the run folder after the UTC time and the process id.
static void NameRunFolder(const wchar_t* work_folder) {
  SYSTEMTIME now;
  CurrentUtcTime(&now);
  FormatInto(config.run_dir, L"%ls\\%04u%02u%02u-%02u%02u%02u-%lu", work_folder, unsigned(now.wYear),
             unsigned(now.wMonth), unsigned(now.wDay), unsigned(now.wHour), unsigned(now.wMinute),
             unsigned(now.wSecond), static_cast<unsigned long>(CurrentProcessId()));
}

static int CreateRunFolders() {
  if (!CreateFolder(config.run_dir)) return 0;
  wchar_t path[PATH_CAPACITY];
  JoinPath(path, config.run_dir, L"new");
  if (!CreateFolder(path)) return 0;
  JoinPath(path, config.run_dir, L"backup");
  return CreateFolder(path);
}

int PrepareWorkArea() {
  wchar_t work_folder[PATH_CAPACITY];
  JoinPath(work_folder, config.install_dir, L".quenfar8-update");
  CreateFolder(work_folder);  // normally exists already
  if (!IsRealFolder(work_folder)) return 0;

  wchar_t lock_path[PATH_CAPACITY];
  JoinPath(lock_path, work_folder, L"updater.lock");
  lock_file = OpenLockFile(lock_path);
  if (lock_file == NO_FILE) {
    if (!config.quiet) ShowErrorBox(L"Quenfar8", kLockMessage);
    return 0;
  }

  NameRunFolder(work_folder);
  if (!CreateRunFolders()) {
    CloseFile(lock_file);
    lock_file = NO_FILE;
    return 0;
  }
  JoinPath(config.manifest_path, config.run_dir, L"manifest.ini");

  wchar_t log_path[PATH_CAPACITY];
  JoinPath(log_path, config.run_dir, L"updater.log");
  log_file = CreateLogFile(log_path);  // without a log the run still goes on
  return 1;
}
