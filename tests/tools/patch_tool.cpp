// The test suite's hpatchz.exe: the same command line as the real tool,
//   hpatchz.exe -s-8m <old file> <patch file> <new file>
// applying patches of tools/patch_format.h. Exit code 0 only on success.
//
// The updater pins this program's digest, so its behaviour for a test is
// chosen from outside its own bytes, through the environment the updater
// passes on:
//   QUENFAR8_TEST_PATCH_MODE=fail     exit 7 and write nothing
//   QUENFAR8_TEST_PATCH_MODE=lie      write a wrong file and exit 0
//   QUENFAR8_TEST_PATCH_MODE=silent   write nothing and exit 0
//   QUENFAR8_TEST_PATCH_MODE=die      write the first half of the new file,
//                                     then end itself at once, the file
//                                     still open (exit code 1), as a tool
//                                     killed while it writes
//   QUENFAR8_TEST_PATCH_MODE=die-exit-0  the same with exit code 0, as wine
//                                     reports a process killed by a signal
//   QUENFAR8_TEST_PATCH_PAUSE=<flag>  before anything else, create
//                                     <flag>.waiting and wait until
//                                     <flag>.go exists (at most 120 s), so
//                                     that a test can change the disk while
//                                     the updater waits for its tool
//   QUENFAR8_TEST_PATCH_RECORD=<file> append the command line and the
//                                     current folder to <file>, UTF-8 lines
#include <windows.h>

#include <string>

#include "tools/patch_format.h"

static std::string Slurp(const wchar_t* path, bool* ok) {
  std::string bytes;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  *ok = file != INVALID_HANDLE_VALUE;
  if (!*ok) return bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

static bool Spill(const wchar_t* path, const std::string& bytes, DWORD disposition) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (disposition == OPEN_ALWAYS) SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  bool ok = bytes.empty() || (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                              written == bytes.size());
  CloseHandle(file);
  return ok;
}

static std::string Utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  return out;
}

static std::wstring Env(const wchar_t* name) {
  wchar_t value[1024];
  DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return (length > 0 && length < 1024) ? std::wstring(value) : std::wstring();
}

// Writes the first half of bytes to a new file at path and ends the process
// with exit_code before closing it.
static void DieHalfWritten(const wchar_t* path, const std::string& bytes, UINT exit_code) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size() / 2), &written, nullptr);
    FlushFileBuffers(file);
  }
  TerminateProcess(GetCurrentProcess(), exit_code);
}

static bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void PauseUntilReleased(const std::wstring& flag) {
  Spill((flag + L".waiting").c_str(), "", CREATE_ALWAYS);
  DWORD start = GetTickCount();
  while (!Exists(flag + L".go") && GetTickCount() - start < 120000) Sleep(10);
}

int wmain(int argc, wchar_t** argv) {
  std::wstring record = Env(L"QUENFAR8_TEST_PATCH_RECORD");
  if (!record.empty()) {
    wchar_t folder[2048] = L"";
    GetCurrentDirectoryW(2048, folder);
    Spill(record.c_str(), Utf8(GetCommandLineW()) + "\r\n" + Utf8(folder) + "\r\n", OPEN_ALWAYS);
  }
  std::wstring pause = Env(L"QUENFAR8_TEST_PATCH_PAUSE");
  if (!pause.empty()) PauseUntilReleased(pause);
  if (argc != 5 || std::wstring(argv[1]) != L"-s-8m") return 2;
  std::wstring mode = Env(L"QUENFAR8_TEST_PATCH_MODE");
  if (mode == L"fail") return 7;
  if (mode == L"silent") return 0;

  bool ok = false;
  std::string base = Slurp(argv[2], &ok);
  if (!ok) return 3;
  std::string patch = Slurp(argv[3], &ok);
  if (!ok) return 3;
  std::string target;
  if (!ApplyPatch(base, patch, &target)) return 4;
  if (mode == L"lie") target += "?";
  if (mode == L"die") DieHalfWritten(argv[4], target, 1);
  if (mode == L"die-exit-0") DieHalfWritten(argv[4], target, 0);
  return Spill(argv[4], target, CREATE_NEW) ? 0 : 5;
}
