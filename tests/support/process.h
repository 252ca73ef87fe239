// Starting programs the way a player or a launcher would, and watching the
// message boxes they show.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct MessageBoxSeen {
  std::wstring caption;
  std::wstring text;
  bool error_icon = false;
};

struct RunOutcome {
  DWORD exit_code = 0xDEAD;
  bool timed_out = false;
  std::vector<MessageBoxSeen> boxes;  // every box the program showed, closed with OK
};

// A started program; the handles are closed on destruction, and a program
// still running then is ended.
class Program {
 public:
  // show_command, when not -1, is passed in the start-up information with
  // STARTF_USESHOWWINDOW, as a launcher or a shortcut would.
  Program(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder, int show_command = -1);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool started() const { return process_.hProcess != nullptr; }
  DWORD pid() const { return process_.dwProcessId; }
  // Why the start failed (GetLastError of CreateProcessW); 0 once started.
  DWORD start_error() const { return start_error_; }

  // Waits for the end, answering message boxes on the way; a program still
  // running after timeout_ms is ended and reported as timed out.
  RunOutcome Wait(DWORD timeout_ms = 60000);

  // True once the program has ended within timeout_ms; its exit code then.
  bool WaitEnded(DWORD timeout_ms, DWORD* exit_code);

 private:
  PROCESS_INFORMATION process_ = {};
  DWORD start_error_ = 0;
  std::vector<MessageBoxSeen> boxes_;
  std::vector<HWND> answered_;
  void AnswerBoxes();
};

// Runs a program to its end; see Program::Wait.
RunOutcome RunProgram(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                      DWORD timeout_ms = 60000);

// A deadline of ms milliseconds, stretched by the factor in
// QUENFAR8_TEST_TIME_FACTOR (1 when unset) on a slower machine, such as
// the emulated one that runs the shipped 32-bit build. Every wait of the
// test support takes its deadline through this.
DWORD Deadline(DWORD ms);

// Polls condition every 20 ms until it holds or timeout_ms pass.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeout_ms = 30000) {
  DWORD start = GetTickCount();
  const DWORD deadline = Deadline(timeout_ms);
  while (!condition()) {
    if (GetTickCount() - start > deadline) return false;
    Sleep(20);
  }
  return true;
}
