// Process, thread and start-up services of kernel32 and shell32.
//
// A StartedProcess carries PROCESS_INFORMATION's two handles; the ids are
// not kept because nothing asks for them.
#include "platform/processes.h"

#include <windows.h>

#include "platform/win/start_up.h"

#include <shellapi.h>
#include <string.h>

uint32_t ExecutablePath(wchar_t* out, uint32_t capacity) {
  DWORD length = GetModuleFileNameW(nullptr, out, capacity);
  // Older systems leave a cut path without terminator; newer ones terminate
  // it at capacity - 1. Either way the caller gets a terminated text and the
  // length capacity, which it treats as "cut".
  if (length >= capacity) {
    out[capacity - 1] = L'\0';
    return capacity;
  }
  if (length == 0) out[0] = L'\0';
  return length;
}

wchar_t** SplitCommandLine(int* count) {
  return CommandLineToArgvW(GetCommandLineW(), count);
}

void FreeArguments(wchar_t** arguments) {
  if (arguments != nullptr) LocalFree(arguments);
}

int InitialShowCommand() {
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

void CurrentUtcTime(SYSTEMTIME* now) {
  GetSystemTime(now);
}

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

int StartDetachedThread(LPTHREAD_START_ROUTINE routine) {
  HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
  if (thread == nullptr) return 0;
  CloseHandle(thread);
  return 1;
}

int StartHiddenProcess(const wchar_t* application, wchar_t* command_line, const wchar_t* folder,
                       StartedProcess* started) {
  // Size 68 and nothing else: no desktop, title, position, flags or
  // standard handles for the child.
  STARTUPINFOW startup;
  static_assert(sizeof startup == (sizeof(void*) == 4 ? 68 : 104), "STARTUPINFOW must have its Windows layout");
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  started->process = nullptr;
  started->thread = nullptr;
  if (!CreateProcessW(application, command_line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, folder,
                      &startup, &process)) {
    return 0;
  }
  started->process = process.hProcess;
  started->thread = process.hThread;
  return 1;
}

void WaitForProcessEnd(const StartedProcess* process) {
  WaitForSingleObject(process->process, INFINITE);
}

void QueryExitCode(const StartedProcess* process, uint32_t* code) {
  DWORD value = 0;
  if (GetExitCodeProcess(process->process, &value)) *code = value;
}

void CloseProcessHandles(StartedProcess* process) {
  CloseHandle(process->thread);
  CloseHandle(process->process);
}

uint64_t MillisecondsNow() {
  return GetTickCount64();
}

void WaitMilliseconds(uint32_t milliseconds) {
  Sleep(milliseconds);
}

int ReadEnvironmentNumber(const wchar_t* name, uint32_t* value) {
  wchar_t text[16];
  DWORD length = GetEnvironmentVariableW(name, text, 16);
  if (length == 0 || length >= 16) return 0;
  uint32_t number = 0;
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return 0;
    number = number * 10 + static_cast<uint32_t>(text[i] - L'0');
  }
  *value = number;
  return 1;
}
