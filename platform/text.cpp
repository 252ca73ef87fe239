// The text rules that need nothing of the system: one copy for every
// platform layer, so that names compare and sizes read the same in the
// player's updater and in the publisher's tool on either system.
#include "platform/text.h"

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
