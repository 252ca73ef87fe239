// Text formatting and conversion with the C library's wide formatter and
// the program's own UTF-8 coder.
#include "platform/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include "platform/posix/utf8.h"

void FormatTextV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args) {
  if (capacity == 0) return;
  // glibc's vswprintf returns -1 for a result that does not fit and leaves
  // it unterminated; the Windows side's strsafe call keeps the cut text,
  // terminated, which is what every caller expects.
  int length = vswprintf(out, capacity, format, args);
  if (length < 0) out[capacity - 1] = L'\0';
}

void FormatText(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatTextV(out, capacity, format, args);
  va_end(args);
}

void CopyText(wchar_t* out, size_t capacity, const wchar_t* text) {
  if (capacity == 0) return;
  size_t i = 0;
  for (; i + 1 < capacity && text[i] != L'\0'; ++i) out[i] = text[i];
  out[i] = L'\0';
}

int Utf8FromText(const wchar_t* text, char* out, int room) {
  if (room <= 0) return 0;
  int count = Utf8BytesFromWide(text, out, static_cast<size_t>(room));
  return count < 0 ? 0 : count + 1;
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
