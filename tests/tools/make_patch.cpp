// Writes a patch of the test tool's format:  make_patch <old> <new> <patch>
// Used by the demo and the benchmark to prepare releases.
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

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  std::string base, target;
  if (!Slurp(argv[1], &base) || !Slurp(argv[2], &target)) return 3;
  std::string patch = MakePatch(base, target);
  HANDLE file = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  bool ok = WriteFile(file, patch.data(), DWORD(patch.size()), &written, nullptr) && written == patch.size();
  CloseHandle(file);
  return ok ? 0 : 5;
}
