#include "support/window_probe.h"

#include <commctrl.h>

#include <stdio.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/files.h"
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
  // The fourth byte is no colour: the capture leaves it 0 for most pixels
  // and 0xFF where something was drawn with transparency (icons, themed
  // borders).
  for (uint32_t& pixel : pixels) pixel &= 0x00FFFFFF;
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

bool CaptureWindow(HWND window, Picture* picture) {
  *picture = Picture();
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RECT rect;
  if (!GetWindowRect(window, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) return false;
  picture->width = rect.right - rect.left;
  picture->height = rect.bottom - rect.top;
  picture->pixels = ScreenPixels(rect.left, rect.top, picture->width, picture->height);
  return true;
}

RECT PictureRect(HWND top, HWND child) {
  RECT outer, inner;
  GetWindowRect(top, &outer);
  GetWindowRect(child, &inner);
  OffsetRect(&inner, -outer.left, -outer.top);
  return inner;
}

static int Brightness(uint32_t pixel) {
  return int((pixel >> 16) & 0xff) * 30 / 100 + int((pixel >> 8) & 0xff) * 59 / 100 + int(pixel & 0xff) * 11 / 100;
}

int TextPixels(const Picture& picture, const RECT& area) {
  int left = area.left < 0 ? 0 : area.left;
  int top = area.top < 0 ? 0 : area.top;
  int right = area.right < picture.width ? area.right : picture.width;
  int bottom = area.bottom < picture.height ? area.bottom : picture.height;
  if (right <= left || bottom <= top || picture.pixels.size() != size_t(picture.width) * picture.height) return 0;
  std::map<uint32_t, int> counts;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) ++counts[picture.pixels[size_t(y) * picture.width + x]];
  }
  uint32_t background = 0;
  int most = 0;
  for (const auto& entry : counts) {
    if (entry.second > most) {
      most = entry.second;
      background = entry.first;
    }
  }
  // Clearly darker: a third of the full range below the background, so
  // that the light shading at a control's edges does not count.
  int limit = Brightness(background) - 85;
  int dark = 0;
  for (const auto& entry : counts) {
    if (Brightness(entry.first) < limit) dark += entry.second;
  }
  return dark;
}

// Writes picture as a 24-bit BMP. Not 32 bits: viewers read the fourth
// byte of a 32-bit pixel as transparency, and a screen capture leaves it
// 0 for most pixels, so such a file shows an empty window.
static bool SavePicture(const Picture& picture, const std::wstring& path) {
  size_t row = (size_t(picture.width) * 3 + 3) / 4 * 4;  // rows are padded to 4 bytes
  std::string bits(row * picture.height, '\0');
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      uint32_t pixel = picture.pixels[size_t(y) * picture.width + x];
      char* p = &bits[y * row + x * 3];
      p[0] = char(pixel & 0xff);
      p[1] = char((pixel >> 8) & 0xff);
      p[2] = char((pixel >> 16) & 0xff);
    }
  }
  BITMAPINFOHEADER info = {sizeof info, picture.width, -picture.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = DWORD(header.bfOffBits + bits.size());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, &header, sizeof header, &written, nullptr) && written == sizeof header &&
            WriteFile(file, &info, sizeof info, &written, nullptr) && written == sizeof info &&
            WriteFile(file, bits.data(), DWORD(bits.size()), &written, nullptr) && written == bits.size();
  CloseHandle(file);
  return ok;
}

Picture SaveWindowPicture(const UpdaterWindow& window, const std::wstring& path, DWORD timeout_ms) {
  Picture last;
  Picture now;
  WaitFor(
      [&] {
        bool made = CaptureWindow(window.main, &now);
        bool settled = made && now.pixels == last.pixels &&
                       TextPixels(now, PictureRect(window.main, window.label)) >= kMinTextPixels;
        if (made) last = now;
        return settled;
      },
      timeout_ms);
  if (!last.pixels.empty() && !SavePicture(last, path)) last = Picture();
  return last;
}

// Runs script with the build machine's /bin/sh (wine starts Unix programs
// too) and waits until the file done exists, for at most 30 s: the end of
// a Unix program is not always reported back to a Windows process, its
// effect on the disk is. The script must make done last, in one step.
static bool RunUnixScript(const std::string& script, const std::wstring& done) {
  std::wstring command = L"sh -c \"" + Wide(script) + L"\"";
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\bin\\sh", buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  bool ok = WaitFor([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; });
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ok;
}

bool ViewPicture(const std::wstring& path, Picture* shown) {
  *shown = Picture();
  std::string unix_path = Utf8(path.substr(2));
  std::replace(unix_path.begin(), unix_path.end(), '\\', '/');
  std::string out = unix_path + ".viewed-" + std::to_string(GetCurrentProcessId()) + ".rgb";
  std::wstring done = WindowsPath(out);
  DeleteFileW(done.c_str());
  bool made = RunUnixScript("/usr/bin/identify -format '%w %h' '" + unix_path + "' > '" + out + ".size' && " +
                                "/usr/bin/convert '" + unix_path + "' -background white -flatten -depth 8 'rgb:" +
                                out + ".part' && /bin/mv '" + out + ".part' '" + out + "'",
                            done);
  std::string size = ReadBytes(WindowsPath(out + ".size"));
  std::string rgb = made ? ReadBytes(done) : std::string();
  DeleteFileW(WindowsPath(out + ".size").c_str());
  DeleteFileW(done.c_str());
  int width = 0, height = 0;
  if (sscanf(size.c_str(), "%d %d", &width, &height) != 2 || width <= 0 || height <= 0 ||
      rgb.size() != size_t(width) * height * 3) {
    return false;
  }
  shown->width = width;
  shown->height = height;
  shown->pixels.resize(size_t(width) * height);
  for (size_t i = 0; i < shown->pixels.size(); ++i) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(rgb.data()) + i * 3;
    shown->pixels[i] = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
  return true;
}
