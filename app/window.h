// The progress window, the worker thread and the game start.
#pragma once

#include <stdint.h>
#include <windows.h>

// Posted once by the worker with the run's result (1 or 0) as first parameter.
constexpr UINT WM_UPDATE_DONE = WM_APP + 1;

extern HWND main_window;   // the top-level window
extern HWND start_button;  // the "게임 시작" button
extern int32_t run_busy;   // 1 until the run's completion message has been handled
extern int32_t run_result; // the run's result once it has ended: 1 current and verified, 0 not

// Creates the window and its controls, starts the worker, runs the message
// loop and closes the log and the lock. Returns the process exit code.
int RunWindow(HINSTANCE instance, int show_command);
