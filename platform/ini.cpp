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
