// Text formatting and conversion: strsafe and WideCharToMultiByte.
#include "platform/text.h"

#include <stdarg.h>
#include <windows.h>
#include <strsafe.h>

void FormatTextV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args) {
  // STRSAFE_E_INSUFFICIENT_BUFFER still leaves the cut, terminated text,
  // which is the wanted result for an overlong line or path.
  StringCchVPrintfW(out, capacity, format, args);
}

void FormatText(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatTextV(out, capacity, format, args);
  va_end(args);
}

void CopyText(wchar_t* out, size_t capacity, const wchar_t* text) {
  StringCchCopyW(out, capacity, text);
}

int Utf8FromText(const wchar_t* text, char* out, int room) {
  return WideCharToMultiByte(CP_UTF8, 0, text, -1, out, room, nullptr, nullptr);
}

