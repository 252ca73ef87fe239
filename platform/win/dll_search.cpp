// The DLL search of the process, over kernel32's loader calls.
#include "platform/dll_search.h"

#include <wchar.h>
#include <windows.h>

#include "platform/text.h"

// SetDefaultDllDirectories; looked up at run time because Windows 7 has it
// only with its update KB2533623, and a static import would keep the
// program from starting at all without that update.
typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD flags);

static const int kSystemPathRoom = 1024;  // the program's path capacity

// The DLLs both programs delay-load, loaded here from the system folder.
static const wchar_t* const kDelayLoadedDlls[] = {L"winhttp.dll", L"bcrypt.dll"};

// The system folder into out (kSystemPathRoom characters), without a
// trailing backslash. Returns 0 when it cannot be had or leaves no room for
// a DLL's name after it.
static int SystemFolder(wchar_t* out) {
#ifdef UPDATER_TEST_SEAMS
  // Test builds only: QUENFAR8_TEST_SYSTEM_FOLDER names another folder to
  // stand for the system folder, so that a DLL that cannot be loaded from
  // there is met for real.
  DWORD forced = GetEnvironmentVariableW(L"QUENFAR8_TEST_SYSTEM_FOLDER", out, kSystemPathRoom);
  if (forced > 0 && forced < kSystemPathRoom - 32) return 1;
#endif
  UINT length = GetSystemDirectoryW(out, kSystemPathRoom);
  return (length > 0 && length < kSystemPathRoom - 32) ? 1 : 0;
}

// SetDefaultDllDirectories when the system has it, else null.
static SetDefaultDllDirectoriesCall FindSetDefaultDllDirectories() {
#ifdef UPDATER_TEST_SEAMS
  // Test builds only: QUENFAR8_TEST_DLL_SEARCH=fallback acts as a system
  // without the call, so that the fallback is tested on one that has it.
  wchar_t mode[16];
  DWORD length = GetEnvironmentVariableW(L"QUENFAR8_TEST_DLL_SEARCH", mode, 16);
  if (length > 0 && length < 16 && wcscmp(mode, L"fallback") == 0) return nullptr;
#endif
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  // The cast between function pointer types is how GetProcAddress is used.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
  return reinterpret_cast<SetDefaultDllDirectoriesCall>(GetProcAddress(kernel, "SetDefaultDllDirectories"));
#pragma GCC diagnostic pop
}

int LoadSystemDllsOnly() {
  wchar_t system_folder[kSystemPathRoom];
  if (!SystemFolder(system_folder)) return 0;
  SetDefaultDllDirectoriesCall set_default = FindSetDefaultDllDirectories();
  // With the default search narrowed to the system folder, a load by full
  // path finds the DLL's own dependencies there too. Without it, the
  // altered search order starts their search in the DLL's folder (the
  // system folder), and the current folder is taken out of the search.
  DWORD flags = LOAD_WITH_ALTERED_SEARCH_PATH;
  if (set_default != nullptr && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    flags = 0;
  } else {
    SetDllDirectoryW(L"");
  }
  for (const wchar_t* name : kDelayLoadedDlls) {
    wchar_t path[kSystemPathRoom];
    FormatInto(path, L"%ls\\%ls", system_folder, name);
    // Loaded for the life of the process: the delay-load stubs bind to
    // this copy by its name, so it is never freed.
    if (LoadLibraryExW(path, nullptr, flags) == nullptr) return 0;
  }
  return 1;
}
