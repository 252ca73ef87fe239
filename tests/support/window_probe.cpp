#include "support/window_probe.h"

#include <commctrl.h>

#include <vector>

#include "support/process.h"

namespace {

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindMain(HWND window, LPARAM context) {
  Search* search = reinterpret_cast<Search*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if ((search->pid == 0 || pid == search->pid) && ClassOf(window) == L"Quenfar8Updater") {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindChild(HWND parent, const wchar_t* class_name) {
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (_wcsicmp(ClassOf(child).c_str(), class_name) == 0) return child;
  }
  return nullptr;
}

}  // namespace

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = L"";
  GetClassNameW(window, name, 256);
  return name;
}

bool HasUpdaterWindow(DWORD pid) {
  Search search{pid, nullptr};
  EnumWindows(FindMain, reinterpret_cast<LPARAM>(&search));
  return search.found != nullptr;
}

bool FindUpdaterWindow(DWORD pid, UpdaterWindow* window, DWORD timeout_ms) {
  return WaitFor(
      [&] {
        Search search{pid, nullptr};
        EnumWindows(FindMain, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) return false;
        window->main = search.found;
        window->label = FindChild(search.found, L"STATIC");
        window->bar = FindChild(search.found, L"msctls_progress32");
        window->button = FindChild(search.found, L"BUTTON");
        return window->label != nullptr && window->bar != nullptr && window->button != nullptr;
      },
      timeout_ms);
}

std::wstring WindowText(HWND window) {
  wchar_t text[4096] = L"";
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &ignored);
  return text;
}

void ProgressRange(HWND bar, int* low, int* high) {
  DWORD_PTR value = 0;
  SendMessageTimeoutW(bar, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &value);
  *low = int(value);
  SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 5000, &value);
  *high = int(value);
}

int ProgressPos(HWND bar) {
  DWORD_PTR value = 0;
  SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &value);
  return int(value);
}

RECT ChildRect(HWND parent, HWND child) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool SaveWindowPicture(HWND window, const std::wstring& path) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  int stride = ((width * 3 + 3) / 4) * 4;
  std::vector<char> pixels(size_t(stride) * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = DWORD(header.bfOffBits + pixels.size());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, &header, sizeof header, &written, nullptr);
  WriteFile(file, &info, sizeof info, &written, nullptr);
  WriteFile(file, pixels.data(), DWORD(pixels.size()), &written, nullptr);
  CloseHandle(file);
  return true;
}
