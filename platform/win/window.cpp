// Windows and controls over user32, comctl32 and shell32.
#include "platform/win/window.h"

#include <commctrl.h>
#include <shellapi.h>

void InitProgressBarClass() {
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof controls;  // 8
  controls.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);
}

void RegisterWindowClass(HINSTANCE instance, const wchar_t* class_name, WNDPROC procedure) {
  WNDCLASSW window_class = {};
  window_class.style = 0;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hIcon = nullptr;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszMenuName = nullptr;
  window_class.lpszClassName = class_name;
  RegisterClassW(&window_class);
}

HWND CreateWindowOfClass(const wchar_t* class_name, const wchar_t* text, uint32_t style, int x, int y,
                         int width, int height, HWND parent, uintptr_t menu_or_id, HINSTANCE instance) {
  return CreateWindowExW(0, class_name, text, style, x, y, width, height, parent,
                         reinterpret_cast<HMENU>(menu_or_id), instance, nullptr);
}

void ShowTopWindow(HWND window, int show_command) {
  ShowWindow(window, show_command);
}

int FetchMessage(MSG* message) {
  return GetMessageW(message, nullptr, 0, 0);
}

void DispatchFetchedMessage(const MSG* message) {
  TranslateMessage(message);
  DispatchMessageW(message);
}

LRESULT DefaultWindowProcedure(HWND window, UINT message, WPARAM first, LPARAM second) {
  return DefWindowProcW(window, message, first, second);
}

void PostToWindow(HWND window, UINT message, WPARAM first, LPARAM second) {
  PostMessageW(window, message, first, second);
}

void EndMessageLoop(int code) {
  PostQuitMessage(code);
}

void DestroyTopWindow(HWND window) {
  DestroyWindow(window);
}

void EnableControl(HWND control, int enable) {
  EnableWindow(control, enable ? TRUE : FALSE);
}

void SetControlText(HWND control, const wchar_t* text) {
  if (control != nullptr) SetWindowTextW(control, text);
}

void SendToControl(HWND control, UINT message, WPARAM first, LPARAM second) {
  if (control != nullptr) SendMessageW(control, message, first, second);
}

int OpenWithShell(HWND owner, const wchar_t* path, const wchar_t* folder, int show_command) {
  // The result is a pseudo-handle whose value carries the outcome; only its
  // size as a signed number counts.
  INT_PTR outcome = reinterpret_cast<INT_PTR>(ShellExecuteW(owner, L"open", path, nullptr, folder, show_command));
  return outcome > 32 ? 1 : 0;
}

void ShowErrorBox(const wchar_t* caption, const wchar_t* text) {
  MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

void StartWindowTimer(HWND window, uintptr_t id, uint32_t period_ms) {
  SetTimer(window, id, period_ms, nullptr);
}

void StopWindowTimer(HWND window, uintptr_t id) {
  KillTimer(window, id);
}
