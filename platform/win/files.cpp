// Files and folders over kernel32.
#include "platform/files.h"

#include <windows.h>

// The attribute bits the callers test are Windows' own.
static_assert(NO_ATTRIBUTES == INVALID_FILE_ATTRIBUTES && ATTRIBUTE_FOLDER == FILE_ATTRIBUTE_DIRECTORY &&
                  ATTRIBUTE_LINK == FILE_ATTRIBUTE_REPARSE_POINT,
              "attribute bits");

#ifdef UPDATER_TEST_SEAMS
#include <wchar.h>

// Test builds only: every wrapper here that changes the file system is a
// numbered change point, counted from 1 in the order the process reaches
// them. Two variables, read at the first point (on the main thread, before
// the worker exists):
//   QUENFAR8_TEST_DIE_AT=<n>        the process ends itself, at once and
//                                   with no cleanup, just before point n is
//                                   made, as a power cut or a killed process
//                                   would leave the disk (exit code 86)
//   QUENFAR8_TEST_CHANGE_LOG=<file> one UTF-8 line per point is appended
//                                   to <file>: "<n> <operation> <subject>",
//                                   so that a test learns every point of an
//                                   uninterrupted run
// The record is written straight through kernel32 and is not itself a
// point; it must lie outside the install folder.

static const UINT kDiedAtPointExitCode = 86;
static const int kSeamPathRoom = 1024;  // the program's path capacity

static int seam_ready = 0;                // the variables below have been read
static LONG points_reached = 0;           // change points reached so far
static unsigned long die_at = 0;          // the point not to be made; 0: none
static wchar_t change_log[kSeamPathRoom];  // where points are recorded; empty: nowhere

// What each open handle of this file names, so that writes and flushes can
// be recorded with their file; one beyond the table's room is recorded as
// "(unnamed handle)".
struct NamedHandle {
  HANDLE handle;
  wchar_t path[kSeamPathRoom];
};
static NamedHandle named_handles[8];  // the files this process holds open for writing

static void ReadSeamVariables() {
  wchar_t text[32];
  DWORD length = GetEnvironmentVariableW(L"QUENFAR8_TEST_DIE_AT", text, 32);
  if (length > 0 && length < 32) die_at = wcstoul(text, nullptr, 10);
  length = GetEnvironmentVariableW(L"QUENFAR8_TEST_CHANGE_LOG", change_log, kSeamPathRoom);
  if (length >= kSeamPathRoom) change_log[0] = L'\0';
  seam_ready = 1;
}

static void NameHandle(HANDLE file, const wchar_t* path) {
  if (file == INVALID_HANDLE_VALUE) return;
  for (NamedHandle& named : named_handles) {
    if (named.handle == nullptr) {
      named.handle = file;
      wcsncpy(named.path, path, kSeamPathRoom - 1);
      return;
    }
  }
}

static void ForgetHandle(HANDLE file) {
  for (NamedHandle& named : named_handles) {
    if (named.handle == file) named.handle = nullptr;
  }
}

static const wchar_t* HandleName(HANDLE file) {
  for (const NamedHandle& named : named_handles) {
    if (named.handle == file && file != nullptr) return named.path;
  }
  return L"(unnamed handle)";
}

static void RecordPoint(LONG point, const wchar_t* operation, const wchar_t* subject) {
  wchar_t line[kSeamPathRoom + 64];
  swprintf(line, kSeamPathRoom + 64, L"%ld %ls %ls\r\n", point, operation, subject);
  char bytes[(kSeamPathRoom + 64) * 3];
  int count = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
  if (count <= 1) return;
  HANDLE record = CreateFileW(change_log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (record == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(record, bytes, static_cast<DWORD>(count - 1), &written, nullptr);
  CloseHandle(record);
}

static void ChangePoint(const wchar_t* operation, const wchar_t* subject) {
  if (!seam_ready) ReadSeamVariables();
  LONG point = InterlockedIncrement(&points_reached);
  if (change_log[0] != L'\0') RecordPoint(point, operation, subject);
  if (die_at != 0 && static_cast<unsigned long>(point) == die_at) {
    // Ends every thread at once: no handle is closed by the program, no
    // buffer flushed, no later status written. Does not return.
    TerminateProcess(GetCurrentProcess(), kDiedAtPointExitCode);
  }
}
#else
// The default build has no change points.
static inline void ChangePoint(const wchar_t*, const wchar_t*) {}
static inline void NameHandle(HANDLE, const wchar_t*) {}
static inline void ForgetHandle(HANDLE) {}
static inline const wchar_t* HandleName(HANDLE) { return nullptr; }
#endif

uint32_t FileAttributes(const wchar_t* path) {
  return GetFileAttributesW(path);
}

int FileSizeFromAttributes(const wchar_t* path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return 1;
}

int CreateFolder(const wchar_t* path) {
  ChangePoint(L"create-folder", path);
  return CreateDirectoryW(path, nullptr) ? 1 : 0;
}

HANDLE OpenForHashing(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

HANDLE OpenLockFile(const wchar_t* path) {
  ChangePoint(L"open-lock", path);  // creates the lock when it is absent
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  NameHandle(file, path);
  return file;
}

HANDLE CreateLogFile(const wchar_t* path) {
  ChangePoint(L"create-log", path);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  NameHandle(file, path);
  return file;
}

HANDLE CreateNewFile(const wchar_t* path) {
  ChangePoint(L"create-file", path);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  NameHandle(file, path);
  return file;
}

HANDLE OpenForAppending(const wchar_t* path, uint64_t* size) {
  ChangePoint(L"open-append", path);  // creates the file when it is absent
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER end;
  if (!SetFilePointerEx(file, zero, &end, FILE_END)) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  *size = static_cast<uint64_t>(end.QuadPart);
  NameHandle(file, path);
  return file;
}

// Not a change point: it opens an existing file and changes nothing.
HANDLE OpenExclusive(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

int ReadChunk(HANDLE file, void* buffer, uint32_t room, uint32_t* got) {
  DWORD count = 0;
  if (!ReadFile(file, buffer, room, &count, nullptr)) return 0;
  *got = count;
  return 1;
}

int WriteAll(HANDLE file, const void* data, uint32_t count) {
  ChangePoint(L"write", HandleName(file));
  DWORD written = 0;
  if (!WriteFile(file, data, count, &written, nullptr)) return 0;
  return written == count ? 1 : 0;
}

int FlushFile(HANDLE file) {
  ChangePoint(L"flush", HandleName(file));
  return FlushFileBuffers(file) ? 1 : 0;
}

void CloseFile(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE && file != nullptr) {
    ForgetHandle(file);
    CloseHandle(file);
  }
}

int CopyToNewFile(const wchar_t* source, const wchar_t* destination) {
  ChangePoint(L"copy", destination);
  return CopyFileW(source, destination, TRUE) ? 1 : 0;
}

int ReplaceKeepingBackup(const wchar_t* target, const wchar_t* replacement, const wchar_t* backup) {
  ChangePoint(L"replace", target);
  return ReplaceFileW(target, replacement, backup, 0, nullptr, nullptr) ? 1 : 0;
}

int MoveToNewPlace(const wchar_t* source, const wchar_t* destination) {
  ChangePoint(L"move-new", destination);
  return MoveFileExW(source, destination, MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

int MoveOverExisting(const wchar_t* source, const wchar_t* destination) {
  ChangePoint(L"move-over", destination);
  return MoveFileExW(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

int DeleteOneFile(const wchar_t* path) {
  ChangePoint(L"delete", path);
  return DeleteFileW(path) ? 1 : 0;
}

int ResolveFullPath(const wchar_t* path, wchar_t* out, uint32_t capacity) {
  // The call returns the length without terminator when the result fits,
  // and the size it needs, terminator included, when it does not: so any
  // value of capacity or more means "does not fit".
  DWORD length = GetFullPathNameW(path, capacity, out, nullptr);
  return (length != 0 && length < capacity) ? 1 : 0;
}

int FreeBytesForUser(const wchar_t* folder, uint64_t* free_bytes) {
#ifdef UPDATER_TEST_SEAMS
  // Test builds only: a chosen free-space figure, so that the boundary of
  // the disk-space test can be met exactly without filling a disk.
  wchar_t forced[32];
  DWORD length = GetEnvironmentVariableW(L"QUENFAR8_TEST_FREE_BYTES", forced, 32);
  if (length > 0 && length < 32) {
    if (forced[0] == L'x') return 0;  // a failing query
    *free_bytes = wcstoull(forced, nullptr, 10);
    return 1;
  }
#endif
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) return 0;
  *free_bytes = available.QuadPart;
  return 1;
}

int FileStamp(const wchar_t* path, uint64_t* size, uint64_t* write_time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  *write_time = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return 1;
}

int RemoveEmptyFolder(const wchar_t* path) {
  ChangePoint(L"remove-folder", path);
  return RemoveDirectoryW(path) ? 1 : 0;
}

int TemporaryFolder(wchar_t* out, uint32_t capacity) {
  // The call counts the terminator only when the path does not fit; a
  // result of capacity or more means it was not written.
  DWORD length = GetTempPathW(capacity, out);
  if (length == 0 || length >= capacity) return 0;
  if (out[length - 1] == L'\\') out[length - 1] = L'\0';
  return 1;
}
