// Used by the demo: waits for the updater's window to finish its run (the
// start button enabled, or the time given passed), saves a picture of what
// the screen shows of it, prints the status line and closes the window.
//   window_shot <picture.bmp> <seconds>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "support/files.h"
#include "support/process.h"
#include "support/window_probe.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  DWORD timeout_ms = DWORD(_wtoi(argv[2])) * 1000;
  UpdaterWindow window;
  if (!FindUpdaterWindow(0, &window, timeout_ms)) {
    fprintf(stderr, "no updater window appeared\n");
    return 3;
  }
  // A successful run enables the button; a failed one leaves it disabled,
  // and then the status line stops changing.
  std::wstring last = WindowText(window.label);
  DWORD quiet_since = GetTickCount();
  WaitFor(
      [&] {
        if (IsWindowEnabled(window.button)) return true;
        std::wstring now = WindowText(window.label);
        if (now != last) {
          last = now;
          quiet_since = GetTickCount();
        }
        return GetTickCount() - quiet_since > 5000;
      },
      timeout_ms);
  // The picture is taken once the last paint has reached the screen.
  Picture picture = SaveWindowPicture(window, argv[1]);
  printf("%s\n", Utf8(WindowText(window.label)).c_str());
  PostMessageW(window.main, WM_CLOSE, 0, 0);
  return picture.pixels.empty() ? 4 : 0;
}
