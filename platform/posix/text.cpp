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

