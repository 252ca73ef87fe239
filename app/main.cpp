// The entry: start-up, work area, then the window until the process ends.
#include <windows.h>

#include "app/config.h"
#include "app/window.h"
#include "app/work_area.h"
#include "platform/dll_search.h"
#include "platform/processes.h"
#include "platform/win/start_up.h"

#ifndef UPDATER_DEFAULT_DLL_SEARCH
// LoadSystemDllsOnly's result, taken by the process's first constructor.
static int g_system_dlls_loaded = 0;

// Runs before every other constructor, the compiler runtime's included:
// the stack protector's set-up opens a cryptographic provider whose DLL
// imports bcrypt.dll by name, and that name must find the copy already
// loaded from the system folder, not one beside the program.
__attribute__((constructor(101))) static void LoadSystemDllsFirst() {
  g_system_dlls_loaded = LoadSystemDllsOnly();
}
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
#ifndef UPDATER_DEFAULT_DLL_SEARCH
  // Before anything can call into winhttp or bcrypt: those two come from
  // the system folder only. A system that cannot give them is a start-up
  // failure like the others.
  if (!g_system_dlls_loaded) return 2;
#endif
  // The start-up code's command-line text and show command are not used:
  // the full command line is split again (argument 0 is the program) and
  // the show command is taken from the start-up information.
  int show_command = InitialShowCommand();
  if (!LoadConfig()) return 2;
  if (!PrepareWorkArea()) return 2;
  ReportIgnoredOptions();
  return RunWindow(instance, show_command);
}
