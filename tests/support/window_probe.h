// Looks at the updater's window from another process, the way a person or
// a launcher sees it: the label, the bar, the button and their places.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

struct UpdaterWindow {
  HWND main = nullptr;
  HWND label = nullptr;
  HWND bar = nullptr;
  HWND button = nullptr;
};

// Finds the top-level window of class "Quenfar8Updater" that process pid
// owns (any process when pid is 0), with its three children; waits up to
// timeout_ms for it.
bool FindUpdaterWindow(DWORD pid, UpdaterWindow* window, DWORD timeout_ms = 30000);

// Closes the window once its run has ended. A failed run leaves the button
// disabled, so the only sign of its end is that WM_CLOSE is accepted: the
// final status appears before the completion message is handled, and a
// close that arrives in between is refused. Sends WM_CLOSE until the
// window is gone or timeout_ms passes; true when it is gone.
bool CloseWhenRunEnds(const UpdaterWindow& window, DWORD timeout_ms = 30000);

// True when process pid owns a window of that class at all.
bool HasUpdaterWindow(DWORD pid);

std::wstring WindowText(HWND window);
std::wstring ClassOf(HWND window);
void ProgressRange(HWND bar, int* low, int* high);
int ProgressPos(HWND bar);

// The child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND parent, HWND child);

// What the screen shows in a w x h area at (x, y): 32-bit pixels, rows top
// to bottom.
std::vector<uint32_t> ScreenPixels(int x, int y, int w, int h);

// A system icon (IDI_...) drawn at its default size on a w x h area filled
// with background (0x00RRGGBB), as a message box draws it.
std::vector<uint32_t> SystemIconPixels(LPCWSTR id, int w, int h, uint32_t background);

// Saves what the screen shows of window as a BMP file.
bool SaveWindowPicture(HWND window, const std::wstring& path);
