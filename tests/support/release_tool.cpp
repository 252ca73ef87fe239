#include "support/release_tool.h"

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/process.h"

#if !defined(QF8_RELEASE_TOOL) || !defined(QF8_DIFF_TOOL)
#error "the build must name the release tool and the test differ"
#endif

std::wstring ReleaseToolExe() { return WindowsPath(QF8_RELEASE_TOOL); }
std::wstring TestDiffTool() { return WindowsPath(QF8_DIFF_TOOL); }

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::vector<std::string> ToolRun::Lines(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
  }
  return found;
}

bool ToolRun::HasLine(const std::vector<std::string>& pieces) const {
  for (const std::string& line : lines) {
    bool all = true;
    for (const std::string& piece : pieces) all = all && line.find(piece) != std::string::npos;
    if (all) return true;
  }
  return false;
}

namespace {

// An inheritable handle to a new file that takes one output stream.
HANDLE OutputFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

ToolRun RunConsoleProgram(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                          DWORD timeout_ms) {
  ToolRun run;
  // Files rather than pipes: a program that fills one pipe while the other
  // is read would stall, and files need no reader at all.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  // A name of its own for every run: wine reuses process ids, and a child
  // of an earlier test may still hold its files for a moment.
  static unsigned runs = 0;
  std::wstring stem = std::wstring(temp) + L"qf8-tool-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++runs);
  std::wstring out_path = stem + L".out", err_path = stem + L".err";
  HANDLE out = OutputFile(out_path), err = OutputFile(err_path);
  EXPECT_NE(out, INVALID_HANDLE_VALUE) << Utf8(out_path) << " " << GetLastError();
  EXPECT_NE(err, INVALID_HANDLE_VALUE) << Utf8(err_path);

  std::wstring command = Quoted(exe) + (arguments.empty() ? L"" : L" " + arguments);
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = INVALID_HANDLE_VALUE;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                folder.empty() ? nullptr : folder.c_str(), &startup, &process);
  CloseHandle(out);
  CloseHandle(err);
  EXPECT_TRUE(started) << Utf8(exe);
  if (started) {
    if (WaitForSingleObject(process.hProcess, Deadline(timeout_ms)) == WAIT_TIMEOUT) {
      run.timed_out = true;
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, 10000);
    }
    GetExitCodeProcess(process.hProcess, &run.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  run.out = ReadBytes(out_path);
  run.err = ReadBytes(err_path);
  DeleteFileW(out_path.c_str());
  DeleteFileW(err_path.c_str());
  run.lines = SplitLines(run.out);
  return run;
}

ToolRun RunReleaseTool(const std::wstring& arguments, DWORD timeout_ms) {
  return RunConsoleProgram(ReleaseToolExe(), arguments, L"", timeout_ms);
}
