// INI reading over GetPrivateProfileStringW.
#include "platform/ini.h"

#include <windows.h>

void ReadIniText(const wchar_t* path, const wchar_t* section, const wchar_t* key, wchar_t* out,
                 uint32_t capacity) {
  // The reader terminates what it returns, also when it cuts; a capacity of
  // 1 still yields the empty text.
  out[0] = L'\0';
  GetPrivateProfileStringW(section, key, L"", out, capacity, path);
}

void ReadIniNames(const wchar_t* path, const wchar_t* section, wchar_t* out, uint32_t capacity) {
  out[0] = L'\0';
  if (capacity < 2) return;
  out[1] = L'\0';
  DWORD length = section != nullptr ? GetPrivateProfileStringW(section, nullptr, L"", out, capacity, path)
                                    : GetPrivateProfileSectionNamesW(out, capacity, path);
  // A list that did not fit comes back as capacity - 2 characters whose
  // last name may be cut: that name is dropped, so that only whole names
  // are listed.
  if (length + 2 >= capacity) {
    DWORD end = length;
    while (end > 0 && out[end - 1] != L'\0') --end;
    out[end] = L'\0';
    if (end + 1 < capacity) out[end + 1] = L'\0';
  }
}
