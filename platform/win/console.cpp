// Standard streams over kernel32's console and file services.
#include "platform/console.h"

#include <windows.h>

#include "platform/text.h"

static HANDLE StreamHandle(Stream stream) {
  return GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

int StreamIsConsole(Stream stream) {
  DWORD mode = 0;
  HANDLE handle = StreamHandle(stream);
  return (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode)) ? 1 : 0;
}

void WriteToStream(Stream stream, const wchar_t* text) {
  HANDLE handle = StreamHandle(stream);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    DWORD written = 0;
    WriteConsoleW(handle, text, static_cast<DWORD>(lstrlenW(text)), &written, nullptr);
    return;
  }
  // One line of output at a time is short; a text whose UTF-8 form does not
  // fit is written in pieces.
  char bytes[4096];
  const wchar_t* rest = text;
  while (*rest != L'\0') {
    int take = lstrlenW(rest);
    if (take > 1000) take = 1000;
    // Never split a surrogate pair between two pieces.
    if (take == 1000 && rest[take - 1] >= 0xD800 && rest[take - 1] <= 0xDBFF) --take;
    int count = WideCharToMultiByte(CP_UTF8, 0, rest, take, bytes, sizeof bytes, nullptr, nullptr);
    DWORD written = 0;
    if (count > 0) WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr);
    rest += take;
  }
}
