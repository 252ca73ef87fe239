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

bool CloseWhenRunEnds(const UpdaterWindow& window, DWORD timeout_ms) {
  return WaitFor(
      [&] {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window.main, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        return !IsWindow(window.main);
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

// Draws into a w x h bitmap compatible with the screen and returns its
// pixels; draw gets the bitmap's DC and the screen's.
template <typename Draw>
static std::vector<uint32_t> DrawnPixels(int w, int h, Draw draw) {
  std::vector<uint32_t> pixels(size_t(w) * h);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  draw(memory, screen);
  SelectObject(memory, old);
  BITMAPINFOHEADER info = {sizeof info, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

std::vector<uint32_t> ScreenPixels(int x, int y, int w, int h) {
  return DrawnPixels(w, h, [&](HDC memory, HDC screen) { BitBlt(memory, 0, 0, w, h, screen, x, y, SRCCOPY); });
}

std::vector<uint32_t> SystemIconPixels(LPCWSTR id, int w, int h, uint32_t background) {
  return DrawnPixels(w, h, [&](HDC memory, HDC) {
    HBRUSH brush = CreateSolidBrush(RGB((background >> 16) & 0xff, (background >> 8) & 0xff, background & 0xff));
    RECT all = {0, 0, w, h};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, id), 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
  });
}

bool SaveWindowPicture(HWND window, const std::wstring& path) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  std::vector<uint32_t> pixels = ScreenPixels(rect.left, rect.top, width, height);

  BITMAPINFOHEADER info = {sizeof info, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = DWORD(header.bfOffBits + pixels.size() * 4);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, &header, sizeof header, &written, nullptr);
  WriteFile(file, &info, sizeof info, &written, nullptr);
  WriteFile(file, pixels.data(), DWORD(pixels.size() * 4), &written, nullptr);
  CloseHandle(file);
  return true;
}
