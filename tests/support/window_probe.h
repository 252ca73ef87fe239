// Looks at the updater's window from another process, the way a person or
// a launcher sees it: the label, the bar, the button and their places.
#pragma once

#include <windows.h>

#include <string>

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

// True when process pid owns a window of that class at all.
bool HasUpdaterWindow(DWORD pid);

std::wstring WindowText(HWND window);
std::wstring ClassOf(HWND window);
void ProgressRange(HWND bar, int* low, int* high);
int ProgressPos(HWND bar);

// The child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND parent, HWND child);

// Saves what the screen shows of window as a BMP file.
bool SaveWindowPicture(HWND window, const std::wstring& path);
