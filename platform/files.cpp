// Files and folders over kernel32.
#include "platform/files.h"

#ifdef UPDATER_TEST_SEAMS
#include <wchar.h>
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
  return CreateDirectoryW(path, nullptr) ? 1 : 0;
}

HANDLE OpenForHashing(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

HANDLE OpenLockFile(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateLogFile(const wchar_t* path) {
  return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateNewFile(const wchar_t* path) {
  return CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

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
  DWORD written = 0;
  if (!WriteFile(file, data, count, &written, nullptr)) return 0;
  return written == count ? 1 : 0;
}

int FlushFile(HANDLE file) {
  return FlushFileBuffers(file) ? 1 : 0;
}

void CloseFile(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE && file != nullptr) CloseHandle(file);
}

int CopyToNewFile(const wchar_t* source, const wchar_t* destination) {
  return CopyFileW(source, destination, TRUE) ? 1 : 0;
}

int ReplaceKeepingBackup(const wchar_t* target, const wchar_t* replacement, const wchar_t* backup) {
  return ReplaceFileW(target, replacement, backup, 0, nullptr, nullptr) ? 1 : 0;
}

int MoveToNewPlace(const wchar_t* source, const wchar_t* destination) {
  return MoveFileExW(source, destination, MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

int MoveOverExisting(const wchar_t* source, const wchar_t* destination) {
  return MoveFileExW(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

int DeleteOneFile(const wchar_t* path) {
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
