// In-process harness for the update run's phases: a Config pointing at a
// fresh install folder and run folder, a log that captures every status
// line, an empty file table and, on request, a stand-in progress bar that
// records what it is sent.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class RunHarness {
 public:
  // Makes <test folder>\install, \run (with new and backup) and \package,
  // points config at them (package mode), opens run\updater.log as the log
  // and empties the file table.
  RunHarness();
  ~RunHarness();
  RunHarness(const RunHarness&) = delete;
  RunHarness& operator=(const RunHarness&) = delete;

  // The status lines reported so far, in order.
  std::vector<std::string> Log() const;

  std::wstring root, install, run, package;
};

// A hidden window that stands in for the progress bar and records every
// PBM_SETRANGE32 as "range <low> <high>" and every PBM_SETPOS as "pos <n>".
class ProgressRecorder {
 public:
  ProgressRecorder();   // also sets progress_bar
  ~ProgressRecorder();  // clears progress_bar
  std::vector<std::string> events;

 private:
  HWND window_;
};
