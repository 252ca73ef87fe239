#include "support/watched_run.h"

#include <stdio.h>

#include "support/files.h"
#include "support/process.h"

std::string WatchedRun::Describe() const {
  char text[64];
  switch (ending) {
    case kExited:
      snprintf(text, sizeof text, "exit %lu", static_cast<unsigned long>(exit_code));
      break;
    case kCrashed:
      snprintf(text, sizeof text, "crash %08lx", static_cast<unsigned long>(exception_code));
      break;
    case kTimedOut:
      snprintf(text, sizeof text, "timed out");
      break;
    default:
      snprintf(text, sizeof text, "not started (error %lu)", static_cast<unsigned long>(start_error));
      break;
  }
  std::string out = text;
  for (const std::wstring& caption : windows) out += ", window \"" + Utf8(caption) + "\"";
  return out;
}

namespace {

struct WindowSearch {
  DWORD pid;
  std::vector<std::wstring>* seen;
};

BOOL CALLBACK NoteVisibleWindow(HWND window, LPARAM context) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || !IsWindowVisible(window)) return TRUE;
  wchar_t caption[256] = L"";
  GetWindowTextW(window, caption, 256);
  for (const std::wstring& known : *search->seen) {
    if (known == caption) return TRUE;
  }
  search->seen->push_back(caption);
  return TRUE;
}

void CloseIfSet(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

}  // namespace

WatchedRun RunWatched(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                      DWORD timeout_ms) {
  WatchedRun run;
  std::wstring command = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    run.start_error = GetLastError();
    return run;
  }
  DWORD start = GetTickCount();
  DWORD last_look = start;
  bool initial_breakpoint_seen = false;
  bool ending = false;  // the process was told to end; its exit is awaited
  for (;;) {
    DEBUG_EVENT event;
    if (!WaitForDebugEvent(&event, 50)) {
      DWORD now = GetTickCount();
      if (!ending && now - start > Deadline(timeout_ms)) {
        run.ending = WatchedRun::kTimedOut;
        ending = true;
        TerminateProcess(process.hProcess, 99);
      }
      if (now - last_look >= 250) {
        WindowSearch search{process.dwProcessId, &run.windows};
        EnumWindows(NoteVisibleWindow, reinterpret_cast<LPARAM>(&search));
        last_look = now;
      }
      continue;
    }
    DWORD status = DBG_CONTINUE;
    bool exited = false;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        CloseIfSet(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        CloseIfSet(event.u.LoadDll.hFile);
        break;
      case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !initial_breakpoint_seen) {
          // The loader stops once for a debugger as the process starts.
          initial_breakpoint_seen = true;
        } else if (event.u.Exception.dwFirstChance) {
          // The program's own handlers get every exception first.
          status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (!ending) {
          run.ending = WatchedRun::kCrashed;
          run.exception_code = record.ExceptionCode;
          ending = true;
          TerminateProcess(process.hProcess, record.ExceptionCode);
        }
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        if (!ending) {
          run.ending = WatchedRun::kExited;
          run.exit_code = event.u.ExitProcess.dwExitCode;
        }
        exited = true;
        break;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    if (exited) break;
  }
  run.elapsed_ms = GetTickCount() - start;
  DebugActiveProcessStop(process.dwProcessId);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}
