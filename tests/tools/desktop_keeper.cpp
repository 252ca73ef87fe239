// Keeps wine's desktop in use for a whole test session: a hidden window and
// a message loop, until the session's wineserver ends it.
//   desktop_keeper.exe <ready file>
// writes <ready file> once its window exists.
//
// Wine closes its desktop process (explorer.exe /desktop) about a second
// after the last program using the desktop ends, and the next program that
// makes a window starts a new one, which inherits that program's standard
// error. Started by a test, that is CTest's pipe: CTest then waits for the
// desktop process, which lives on for as long as other tests keep making
// windows, and the test times out. Started first, detached, with every
// stream redirected (scripts/wine-env.sh), this program owns the one
// desktop process of the session.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count != 2) return 2;
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"Quenfar8DesktopKeeper";
  if (!RegisterClassW(&window_class)) return 1;
  // Never shown: nothing appears on the screen or in window searches by
  // the updater's class.
  if (!CreateWindowExW(0, L"Quenfar8DesktopKeeper", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr)) {
    return 1;
  }
  HANDLE ready = CreateFileW(arguments[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
