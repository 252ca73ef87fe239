// A program that fails the way a crashing or hanging updater would, for
// the tests that show such a failure is caught:
//   misbehave.exe access    writes through a null pointer
//   misbehave.exe stack     recurses until the stack is gone
//   misbehave.exe abort     calls abort()
//   misbehave.exe box       shows a message box and waits for an answer
//   misbehave.exe hang      sleeps for ever
//   misbehave.exe exit <n>  ends with exit code n
#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

static volatile int* volatile nowhere = nullptr;

static int Recurse(int depth) {
  volatile char pad[4096];
  pad[0] = char(depth);
  return Recurse(depth + 1) + pad[0];
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const wchar_t* what = count > 1 ? arguments[1] : L"";
  if (wcscmp(what, L"access") == 0) *nowhere = 1;
  if (wcscmp(what, L"stack") == 0) return Recurse(0);
  if (wcscmp(what, L"abort") == 0) abort();
  if (wcscmp(what, L"box") == 0) MessageBoxW(nullptr, L"waiting", L"Misbehave", MB_OK);
  if (wcscmp(what, L"hang") == 0) Sleep(INFINITE);
  if (wcscmp(what, L"exit") == 0 && count > 2) return _wtoi(arguments[2]);
  return 0;
}
