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

wchar_t FoldAsciiCase(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

int EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    if (FoldAsciiCase(*a) != FoldAsciiCase(*b)) return 0;
    if (*a == L'\0') return 1;
  }
}

void FormatByteSize(wchar_t* out, size_t capacity, uint64_t bytes) {
  if (bytes < 1024) {
    FormatText(out, capacity, L"%u 바이트", static_cast<unsigned>(bytes));
  } else if (bytes < 1048576) {
    FormatText(out, capacity, L"%.1f KB", static_cast<double>(bytes) / 1024.0);
  } else if (bytes < 1073741824ULL) {
    FormatText(out, capacity, L"%.1f MB", static_cast<double>(bytes) / 1048576.0);
  } else {
    FormatText(out, capacity, L"%.2f GB", static_cast<double>(bytes) / 1073741824.0);
  }
}
