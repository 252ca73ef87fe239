// Windows, controls, the message loop, message boxes and the shell start:
// user32, comctl32 and shell32.
#pragma once

#include <stdint.h>
#include <windows.h>

// Makes the progress bar class available; the result is not needed.
void InitProgressBarClass();

// Registers a window class: style 0, no icon, the arrow cursor, the system
// window colour as background, no menu. Failure shows when a window of the
// class cannot be created.
void RegisterWindowClass(HINSTANCE instance, const wchar_t* class_name, WNDPROC procedure);

// Creates a window with extended style 0 and no creation data. A child gets
// its control id through menu_or_id; a top-level window passes 0.
HWND CreateWindowOfClass(const wchar_t* class_name, const wchar_t* text, uint32_t style, int x, int y,
                         int width, int height, HWND parent, uintptr_t menu_or_id, HINSTANCE instance);

void ShowTopWindow(HWND window, int show_command);

// GetMessageW for every window of the thread: > 0 for a message, 0 for the
// quit message, -1 on error.
int FetchMessage(MSG* message);
void DispatchFetchedMessage(const MSG* message);

LRESULT DefaultWindowProcedure(HWND window, UINT message, WPARAM first, LPARAM second);

// Queues a message without waiting for it.
void PostToWindow(HWND window, UINT message, WPARAM first, LPARAM second);

// Asks the thread's message loop to end with code.
void EndMessageLoop(int code);

void DestroyTopWindow(HWND window);
void EnableControl(HWND control, int enable);

// Both act only on a real window; a null handle is passed over.
void SetControlText(HWND control, const wchar_t* text);
void SendToControl(HWND control, UINT message, WPARAM first, LPARAM second);

// Opens path with the shell's "open" verb, working folder and show command.
// 1 when the shell reports success (a value above 32).
int OpenWithShell(HWND owner, const wchar_t* path, const wchar_t* folder, int show_command);

// A message box with no owner, an OK button and the error icon.
void ShowErrorBox(const wchar_t* caption, const wchar_t* text);

// A timer that sends WM_TIMER with id to window every period_ms
// milliseconds, on the window's own thread; StopWindowTimer ends it.
void StartWindowTimer(HWND window, uintptr_t id, uint32_t period_ms);
void StopWindowTimer(HWND window, uintptr_t id);
