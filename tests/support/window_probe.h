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

// What the screen shows in a w x h area at (x, y): 32-bit pixels
// 0x00RRGGBB, rows top to bottom; other processes' windows included.
std::vector<uint32_t> ScreenPixels(int x, int y, int w, int h);

// A system icon (IDI_...) drawn at its default size on a w x h area filled
// with background (0x00RRGGBB), as a message box draws it.
std::vector<uint32_t> SystemIconPixels(LPCWSTR id, int w, int h, uint32_t background);

// A picture: 32-bit pixels 0x00RRGGBB, rows top to bottom.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

// What the screen shows of window. The window is first raised to the top,
// without being activated: the windows of tests that run side by side may
// lie on top of each other. False when window has no area.
bool CaptureWindow(HWND window, Picture* picture);

// child's rectangle in a picture of the top-level window top.
RECT PictureRect(HWND top, HWND child);

// The number of pixels in area that are clearly darker than the area's
// most common colour: the text on a control's light face. A blank area
// has none; a line of status text has hundreds.
int TextPixels(const Picture& picture, const RECT& area);

// What counts as text in an area for the checks below.
const int kMinTextPixels = 40;

// Captures the updater's window until the status label's area holds text
// and two captures in a row agree (the last paint has reached the screen),
// for at most timeout_ms, and saves the last capture as a 24-bit BMP file
// at path. Returns that capture (empty when none was made or saved); the
// caller judges it.
Picture SaveWindowPicture(const UpdaterWindow& window, const std::wstring& path, DWORD timeout_ms = 30000);

// What a person is shown of a saved picture file: ImageMagick on the build
// machine (started through wine, as the demo converts its pictures) reads
// it and flattens it on white, honouring any transparency the file
// carries. False when it could not be read.
bool ViewPicture(const std::wstring& path, Picture* shown);
