// The built programs under test and an install folder to run them in.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

std::wstring ShippedUpdaterExe();  // the released build: pins the distributed hpatchz.exe
std::wstring TestUpdaterExe();     // the test build: pins the test patch tool
std::wstring TestPatchTool();      // the test suite's hpatchz.exe
std::wstring FakeGameExe();        // a Quenfar8.exe that records how it was started
std::wstring BuildFolder();        // the build tree, as a Windows path

// A client's install folder with an updater copied in.
class InstallFolder {
 public:
  explicit InstallFolder(const std::wstring& dir, const std::wstring& updater = TestUpdaterExe());

  const std::wstring& dir() const { return dir_; }
  std::wstring exe() const;
  std::wstring Path(const std::wstring& name) const;
  std::wstring WorkFolder() const;

  // Quenfar8Updater.ini with the given feed line.
  void WriteFeed(const std::string& feed);

  // Runs the updater with arguments from folder (the install folder when
  // empty), answering message boxes.
  RunOutcome Run(const std::wstring& arguments, const std::wstring& folder = L"", unsigned timeout_ms = 60000) const;

  // The run folders in the work folder, full paths, oldest name first.
  std::vector<std::wstring> RunFolders() const;

  // Runs the updater like Run and finds the run folder that it made.
  struct Result {
    RunOutcome outcome;
    std::wstring run_folder;        // empty when the run made none
    std::vector<std::string> log;   // its updater.log, line by line
  };
  Result Update(const std::wstring& arguments, const std::wstring& folder = L"", unsigned timeout_ms = 60000) const;

 private:
  std::wstring dir_;
};

// Starts the updater of install with /quiet and kills it once the file at
// partial holds at least mark bytes. Returns the bytes the file holds then,
// read once its size has stayed the same for a second: under wine a killed
// process counts as ended a moment before its last write is done. 0 when
// the run ended, or did not get there within timeout_ms, first.
unsigned long long KillUpdaterWhenHeld(const InstallFolder& install, const std::wstring& partial,
                                       unsigned long long mark, unsigned timeout_ms);

// A run folder name: 8 digits, '-', 6 digits, '-', a decimal number without
// leading zeros.
bool IsRunFolderName(const std::wstring& name);
