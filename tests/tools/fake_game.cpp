// A stand-in Quenfar8.exe: writes "game-started.txt" beside itself with its
// own path and the folder it was started in (UTF-8 lines), then ends.
#include <windows.h>

#include <string>

static std::string Utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  return out;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t self[2048] = L"";
  wchar_t folder[2048] = L"";
  GetModuleFileNameW(nullptr, self, 2048);
  GetCurrentDirectoryW(2048, folder);
  std::wstring record = self;
  record = record.substr(0, record.rfind(L'\\')) + L"\\game-started.txt";
  std::string text = Utf8(self) + "\r\n" + Utf8(folder) + "\r\n";
  HANDLE file = CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
