// Running the release tool the way a publisher's script would, and reading
// what it printed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

std::wstring ReleaseToolExe();  // build/Quenfar8Release.exe
std::wstring TestDiffTool();    // the test suite's differ (make_patch.exe), hdiffz's command line

struct ToolRun {
  DWORD exit_code = 0xDEAD;
  bool timed_out = false;
  std::string out;                 // standard output, as written (UTF-8)
  std::string err;                 // standard error
  std::vector<std::string> lines;  // standard output line by line
  // The output lines that begin with prefix ("problem: ", "note: ").
  std::vector<std::string> Lines(const std::string& prefix) const;
  // True when some output line holds every one of the pieces.
  bool HasLine(const std::vector<std::string>& pieces) const;
};

// Runs a console program with arguments from folder (the current folder
// when empty), its two output streams sent to files, and waits for its end.
ToolRun RunConsoleProgram(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder = L"",
                          DWORD timeout_ms = 120000);

// Runs Quenfar8Release.exe with the arguments.
ToolRun RunReleaseTool(const std::wstring& arguments, DWORD timeout_ms = 120000);

// A path in double quotes, for a command line.
std::wstring Quoted(const std::wstring& path);
