// The entry: start-up, work area, then the window until the process ends.
#include <windows.h>

#include "app/config.h"
#include "app/window.h"
#include "app/work_area.h"
#include "platform/dll_search.h"
#include "platform/processes.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
#ifndef UPDATER_DEFAULT_DLL_SEARCH
  // First of all, before anything can call into winhttp or bcrypt: those
  // two come from the system folder only. A system that cannot give them
  // is a start-up failure like the others.
  if (!LoadSystemDllsOnly()) return 2;
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
