#include "support/process.h"

#include <stdint.h>
#include <stdlib.h>

#include "support/window_probe.h"

Program::Program(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                 int show_command) {
  std::wstring command = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (show_command != -1) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = WORD(show_command);
  }
  if (!CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process_)) {
    start_error_ = GetLastError();
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

uint64_t Distance(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  uint64_t sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      int d = int((a[i] >> shift) & 0xff) - int((b[i] >> shift) & 0xff);
      sum += uint64_t(d < 0 ? -d : d);
    }
  }
  return sum;
}

// Another process's icon handle cannot be read here, so the icon is judged
// by what the screen shows: it must look more like the system's error icon
// than like the warning, information or question icon.
bool ShowsErrorIcon(HWND icon_control) {
  int w = GetSystemMetrics(SM_CXICON);
  int h = GetSystemMetrics(SM_CYICON);
  RECT rect;
  GetWindowRect(icon_control, &rect);
  const LPCWSTR candidates[] = {IDI_ERROR, IDI_WARNING, IDI_INFORMATION, IDI_QUESTION};
  for (int attempt = 0; attempt < 50; ++attempt) {  // the box may still be painting
    std::vector<uint32_t> shown = ScreenPixels(rect.left, rect.top, w, h);
    uint32_t background = shown[0];  // a corner of the icon is transparent
    uint64_t best = UINT64_MAX;
    int best_index = -1;
    for (int i = 0; i < 4; ++i) {
      uint64_t distance = Distance(shown, SystemIconPixels(candidates[i], w, h, background));
      if (distance < best) {
        best = distance;
        best_index = i;
      }
    }
    if (best_index == 0 && best < uint64_t(w) * h * 3 * 8) return true;
    Sleep(20);
  }
  return false;
}

// The text of a message box is its static control with id 0xFFFF; the icon
// is a static control with the icon style.
MessageBoxSeen Describe(HWND box) {
  MessageBoxSeen seen;
  seen.caption = TextOf(box);
  HWND text = GetDlgItem(box, 0xFFFF);
  if (text != nullptr) seen.text = TextOf(text);
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && ShowsErrorIcon(child)) seen.error_icon = true;
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

DWORD Deadline(DWORD ms) {
  static const double factor = [] {
    wchar_t text[32] = {};
    DWORD length = GetEnvironmentVariableW(L"QUENFAR8_TEST_TIME_FACTOR", text, 32);
    if (length == 0 || length >= 32) return 1.0;
    double value = _wtof(text);
    return value >= 1.0 ? value : 1.0;
  }();
  double stretched = static_cast<double>(ms) * factor;
  return stretched >= 4e9 ? INFINITE - 1 : static_cast<DWORD>(stretched);
}

RunOutcome Program::Wait(DWORD timeout_ms) {
  RunOutcome outcome;
  if (process_.hProcess == nullptr) {
    outcome.exit_code = 0xBAD;
    return outcome;
  }
  DWORD start = GetTickCount();
  const DWORD deadline = Deadline(timeout_ms);
  while (WaitForSingleObject(process_.hProcess, 25) == WAIT_TIMEOUT) {
    AnswerBoxes();
    if (GetTickCount() - start > deadline) {
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
  if (WaitForSingleObject(process_.hProcess, Deadline(timeout_ms)) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(process_.hProcess, exit_code);
  return true;
}

RunOutcome RunProgram(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                      DWORD timeout_ms) {
  Program program(exe, arguments, folder);
  return program.Wait(timeout_ms);
}
