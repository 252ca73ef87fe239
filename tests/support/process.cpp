#include "support/process.h"

Program::Program(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
  std::wstring command = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process_)) {
    process_ = PROCESS_INFORMATION{};
  }
}

Program::~Program() {
  if (process_.hProcess == nullptr) return;
  if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 10000);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

namespace {

struct BoxSearch {
  DWORD pid;
  std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM context) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t class_name[64] = L"";
  GetClassNameW(window, class_name, 64);
  if (pid == search->pid && wcscmp(class_name, L"#32770") == 0 && IsWindowVisible(window)) {
    search->boxes.push_back(window);
  }
  return TRUE;
}

std::wstring TextOf(HWND window) {
  wchar_t text[4096] = L"";
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &ignored);
  return text;
}

// The text of a message box is its static control with id 0xFFFF; the icon
// is a static control showing the system's error icon.
MessageBoxSeen Describe(HWND box) {
  MessageBoxSeen seen;
  seen.caption = TextOf(box);
  HWND text = GetDlgItem(box, 0xFFFF);
  if (text != nullptr) seen.text = TextOf(text);
  HICON error_icon = LoadIconW(nullptr, IDI_ERROR);
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    DWORD_PTR icon = 0;
    if (SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon) && icon != 0 &&
        reinterpret_cast<HICON>(icon) == error_icon) {
      seen.error_icon = true;
    }
  }
  return seen;
}

}  // namespace

void Program::AnswerBoxes() {
  BoxSearch search{process_.dwProcessId, {}};
  EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
  for (HWND box : search.boxes) {
    bool known = false;
    for (HWND answered : answered_) known = known || answered == box;
    if (known) continue;
    answered_.push_back(box);
    boxes_.push_back(Describe(box));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
}

RunOutcome Program::Wait(DWORD timeout_ms) {
  RunOutcome outcome;
  if (process_.hProcess == nullptr) {
    outcome.exit_code = 0xBAD;
    return outcome;
  }
  DWORD start = GetTickCount();
  while (WaitForSingleObject(process_.hProcess, 25) == WAIT_TIMEOUT) {
    AnswerBoxes();
    if (GetTickCount() - start > timeout_ms) {
      outcome.timed_out = true;
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 10000);
      break;
    }
  }
  GetExitCodeProcess(process_.hProcess, &outcome.exit_code);
  outcome.boxes = boxes_;
  return outcome;
}

bool Program::WaitEnded(DWORD timeout_ms, DWORD* exit_code) {
  if (process_.hProcess == nullptr) return false;
  if (WaitForSingleObject(process_.hProcess, timeout_ms) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(process_.hProcess, exit_code);
  return true;
}

RunOutcome RunProgram(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                      DWORD timeout_ms) {
  Program program(exe, arguments, folder);
  return program.Wait(timeout_ms);
}
