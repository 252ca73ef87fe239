// The window: one handler per message, the worker and the game start.
#include "app/window.h"

#include "app/config.h"
#include "app/status_window.h"
#include "app/work_area.h"
#include "engine/update_run.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/win/start_up.h"
#include "platform/win/window.h"
#include "transfer/digest.h"

HWND main_window = nullptr;
HWND start_button = nullptr;
int32_t run_busy = 1;
int32_t run_result = 0;

static const wchar_t kClassName[] = L"Quenfar8Updater";
static const wchar_t kLaunchFailed[] = L"게임 실행에 실패했습니다. 패치 로그와 게임 로그를 확인해 주세요.";

// Control id of the start button; the only command the window acts on.
static const int kStartButtonId = 1;

// The timer that redraws the byte figures with progress=bytes, and its
// period: about four drawings a second.
static const uintptr_t kBytesTimerId = 1;
static const uint32_t kBytesTimerPeriod = 250;

static DWORD WINAPI WorkerMain(void*) {
  int result = RunUpdate();
  PostToWindow(main_window, WM_UPDATE_DONE, static_cast<WPARAM>(result), 0);
  return 0;
}

static void StartGame() {
  wchar_t path[PATH_CAPACITY];
  JoinPath(path, config.install_dir, config.launch_name);
  if (OpenWithShell(main_window, path, config.install_dir, SW_SHOWNORMAL)) {
    DestroyTopWindow(main_window);
    return;
  }
  // The window stays and the button stays enabled: the player may try again.
  ReportStatus(kLaunchFailed);
}

static LRESULT OnDestroy() {
  EndMessageLoop(0);
  return 0;
}

// Closing is refused without a word while the run is going on: ending the
// process then could leave the client half replaced.
static LRESULT OnClose(HWND window) {
  if (!run_busy) DestroyTopWindow(window);
  return 0;
}

static LRESULT OnCommand(WPARAM first) {
  if (LOWORD(first) == kStartButtonId && run_result != 0 && !run_busy) StartGame();
  return 0;
}

static LRESULT OnUpdateDone(WPARAM first) {
  if (bytes_label != nullptr) {
    // The figures as the downloads left them, and no more drawing.
    StopWindowTimer(main_window, kBytesTimerId);
    DrawDownloadBytes();
  }
  run_result = static_cast<int32_t>(first);
  run_busy = 0;
  EnableControl(start_button, first != 0);
  if (config.quiet || config.apply_only) EndMessageLoop(run_result == 0 ? 1 : 0);
  return 0;
}

static LRESULT CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM first, LPARAM second) {
  switch (message) {
    case WM_DESTROY:
      return OnDestroy();
    case WM_CLOSE:
      return OnClose(window);
    case WM_COMMAND:
      return OnCommand(first);
    case WM_UPDATE_DONE:
      return OnUpdateDone(first);
    case WM_TIMER:
      if (first == kBytesTimerId) DrawDownloadBytes();
      return 0;
    default:
      return DefaultWindowProcedure(window, message, first, second);
  }
}

static void CreateControls(HINSTANCE instance) {
  status_label = CreateWindowOfClass(L"STATIC", L"클라이언트를 확인하고 있습니다...", WS_CHILD | WS_VISIBLE | SS_LEFT,
                                     20, 20, 540, 50, main_window, 0, instance);
  progress_bar = CreateWindowOfClass(L"msctls_progress32", nullptr, WS_CHILD | WS_VISIBLE, 20, 85, 540, 20,
                                     main_window, 0, instance);
  start_button = CreateWindowOfClass(L"BUTTON", L"게임 시작", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON,
                                     430, 120, 130, 30, main_window, kStartButtonId, instance);
  // Made last, so that the status line stays the window's first label. It
  // stays empty until the downloads start.
  if (config.progress_bytes) {
    bytes_label = CreateWindowOfClass(L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 20, 112, 400, 40, main_window,
                                      0, instance);
  }
}

static int RunMessageLoop() {
  MSG message;
  int fetched;
  while ((fetched = FetchMessage(&message)) > 0) DispatchFetchedMessage(&message);
  // A failed fetch (-1) ends the loop like the quit message, with code 0.
  return fetched == 0 ? static_cast<int>(message.wParam) : 0;
}

static int GiveUpStartUp() {
  CloseFile(lock_file);
  return 2;
}

int RunWindow(HINSTANCE instance, int show_command) {
  InitProgressBarClass();
  RegisterWindowClass(instance, kClassName, MainWindowProcedure);
  main_window = CreateWindowOfClass(kClassName, L"Quenfar8 업데이트", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                    CW_USEDEFAULT, CW_USEDEFAULT, 590, 205, nullptr, 0, instance);
  if (main_window == nullptr) return GiveUpStartUp();
  CreateControls(instance);
  if (!config.quiet) ShowTopWindow(main_window, show_command);
  if (bytes_label != nullptr) StartWindowTimer(main_window, kBytesTimerId, kBytesTimerPeriod);
  if (!StartDetachedThread(WorkerMain)) return GiveUpStartUp();

  int quit_code = RunMessageLoop();

  CloseFile(log_file);
  CloseFile(lock_file);
  if (config.quiet || config.apply_only) return run_result != 0 ? 0 : 1;
  return quit_code;
}
