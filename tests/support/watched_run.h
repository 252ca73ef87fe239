// Runs a program as its debugger, so that a crash is seen the moment it
// happens: the program's unhandled exception comes to the test as a debug
// event, and wine never starts its own debugger, whose crash dialog would
// keep the crashed process alive until someone answers it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct WatchedRun {
  enum Ending { kExited, kCrashed, kTimedOut, kNotStarted };
  Ending ending = kNotStarted;
  DWORD exit_code = 0;       // kExited
  DWORD exception_code = 0;  // kCrashed: the exception nothing handled
  DWORD start_error = 0;     // kNotStarted: CreateProcessW's last error
  // Captions of the visible top-level windows the program showed (a crash
  // dialog or a message box in a run that must show none).
  std::vector<std::wstring> windows;
  DWORD elapsed_ms = 0;

  // "exit 1", "crash c0000005", "timed out", "not started (error 2)", plus
  // any windows.
  std::string Describe() const;
};

// Starts exe with arguments in folder and follows it to its end. A program
// still running after timeout_ms is ended and reported as timed out; one
// whose exception no handler takes is ended and reported as crashed.
WatchedRun RunWatched(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                      DWORD timeout_ms);
