// The test suite's differ, with the command line of HDiffPatch's hdiffz:
//   make_patch [options...] <old file> <new file> <patch file>
// It writes a patch of the test tool's format (tools/patch_format.h). The
// release tool's tests, the demo and the benchmark make releases with it.
//
// Options are accepted and ignored. What a test wants of it comes through
// the environment that the release tool passes on:
//   QUENFAR8_TEST_DIFF_MODE=fail      exit 9 and write nothing
//   QUENFAR8_TEST_DIFF_MODE=lie       write a patch that rebuilds other bytes
//   QUENFAR8_TEST_DIFF_MODE=nothing   write nothing and exit 0
//   QUENFAR8_TEST_DIFF_MODE=empty     write an empty patch and exit 0
//   QUENFAR8_TEST_DIFF_TOUCH=<file>   append a byte to <file> first (a client
//                                     file that changes while it is packed)
//   QUENFAR8_TEST_DIFF_RECORD=<file>  append the command line to <file>
#include <windows.h>

#include <string>

#include "tools/patch_format.h"

static bool Slurp(const wchar_t* path, std::string* bytes) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes->append(chunk, got);
  CloseHandle(file);
  return true;
}

static bool Spill(const wchar_t* path, const std::string& bytes, DWORD disposition) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (disposition == OPEN_ALWAYS) SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  bool ok = bytes.empty() ||
            (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size());
  CloseHandle(file);
  return ok;
}

static std::wstring Env(const wchar_t* name) {
  wchar_t value[1024];
  DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return (length > 0 && length < 1024) ? std::wstring(value) : std::wstring();
}

static std::string Utf8(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
  return out;
}

int wmain(int argc, wchar_t** argv) {
  std::wstring record = Env(L"QUENFAR8_TEST_DIFF_RECORD");
  if (!record.empty()) Spill(record.c_str(), Utf8(GetCommandLineW()) + "\r\n", OPEN_ALWAYS);
  if (argc < 4) return 2;
  const wchar_t* old_path = argv[argc - 3];
  const wchar_t* new_path = argv[argc - 2];
  const wchar_t* patch_path = argv[argc - 1];
  std::wstring mode = Env(L"QUENFAR8_TEST_DIFF_MODE");
  std::wstring touch = Env(L"QUENFAR8_TEST_DIFF_TOUCH");
  if (!touch.empty()) Spill(touch.c_str(), "!", OPEN_ALWAYS);
  if (mode == L"fail") return 9;
  if (mode == L"nothing") return 0;
  if (mode == L"empty") return Spill(patch_path, "", CREATE_ALWAYS) ? 0 : 5;

  std::string base, target;
  if (!Slurp(old_path, &base) || !Slurp(new_path, &target)) return 3;
  if (mode == L"lie") target += "?";
  return Spill(patch_path, MakePatch(base, target), CREATE_ALWAYS) ? 0 : 5;
}
