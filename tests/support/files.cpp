#include "support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include "support/process.h"

#ifndef QF8_TEST_ROOT
#error "QF8_TEST_ROOT must name the build tree's folder for test files"
#endif

std::wstring WindowsPath(const std::string& unix_path) {
  std::wstring path = L"Z:" + Wide(unix_path);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  return folder + L"\\" + name;
}

static std::wstring TestName() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "no-test";
  std::wstring out;
  for (char c : name) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    out.push_back(keep ? wchar_t(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) : L'-');
  }
  return out;
}

std::wstring FreshTestFolder(const std::wstring& suffix) {
  std::wstring root = WindowsPath(QF8_TEST_ROOT);
  CreateDirectoryW(root.c_str(), nullptr);
  std::wstring folder = Join(root, TestName() + suffix);
  RemoveTree(folder);
  MakeFolder(folder);
  return folder;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << Utf8(path);
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1 << 20));
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
  CloseHandle(file);
  ASSERT_EQ(done, bytes.size());
}

std::string ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string("<missing>");
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeFolder(const std::wstring& path) {
  CreateDirectoryW(path.c_str(), nullptr);
}

static void RemoveUnixLink(const std::wstring& link);

static bool IsLinkToFolder(DWORD attributes) {
  const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & link) == link;
}

// Links to folders go first, anywhere below path: once its target is gone
// a link vanishes from wine's folder listings and its folder can no longer
// be emptied. Only the link goes; wine's RemoveDirectoryW would follow it
// and remove the folder it points to.
static void RemoveLinksBelow(const std::wstring& path) {
  for (const std::wstring& name : ListFolder(path)) {
    std::wstring child = Join(path, name);
    DWORD attributes = GetFileAttributesW(child.c_str());
    if (IsLinkToFolder(attributes)) {
      RemoveUnixLink(child);
    } else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      RemoveLinksBelow(child);
    }
  }
}

static void RemoveTreeWithoutLinks(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL | (attributes & FILE_ATTRIBUTE_DIRECTORY));
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    for (const std::wstring& name : ListFolder(path)) RemoveTreeWithoutLinks(Join(path, name));
    RemoveDirectoryW(path.c_str());
  } else {
    DeleteFileW(path.c_str());
  }
}

void RemoveTree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (IsLinkToFolder(attributes)) {
    RemoveUnixLink(path);
    return;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) RemoveLinksBelow(path);
  RemoveTreeWithoutLinks(path);
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

static void ListTreeInto(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>* out) {
  std::wstring folder = relative.empty() ? root : Join(root, relative);
  for (const std::wstring& name : ListFolder(folder)) {
    std::wstring child = relative.empty() ? name : Join(relative, name);
    if (IsFolder(Join(root, child))) {
      ListTreeInto(root, child, out);
    } else {
      out->push_back(child);
    }
  }
}

std::vector<std::wstring> ListTree(const std::wstring& folder) {
  std::vector<std::wstring> out;
  ListTreeInto(folder, L"", &out);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> CrLfLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  if (start != bytes.size()) lines.push_back("<unterminated>" + bytes.substr(start));
  return lines;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &out[0], size);
  return out;
}

std::string Filler(size_t size, unsigned variant) {
  std::string bytes(size, '\0');
  uint32_t x = 2463534242u ^ (variant * 2654435761u);
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = char(x & 0xff);
  }
  return bytes;
}

ScopedEnv::ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name) {
  SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnv::~ScopedEnv() {
  SetEnvironmentVariableW(name_.c_str(), nullptr);
}

HeldFile::HeldFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition)
    : handle_(CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

HeldFile::~HeldFile() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

static std::string UnixPath(const std::wstring& windows_path) {
  std::string path = Utf8(windows_path.substr(2));
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// Starts one of the build machine's own programs (wine starts Unix programs
// too) and waits until done() holds, for at most 30 s (a loaded machine
// can take seconds to start it): the Unix program's end is not always
// reported back, its effect on the disk is.
template <typename Done>
static bool RunUnixProgram(const wchar_t* program, const std::wstring& command, Done done, DWORD timeout_ms = 30000) {
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  bool ok = false;
  DWORD start = GetTickCount();
  for (;;) {
    ok = done();
    if (ok || GetTickCount() - start > Deadline(timeout_ms)) break;
    Sleep(20);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ok;
}

bool MakeUnixLink(const std::wstring& target, const std::wstring& link) {
  std::wstring command = L"ln -s \"" + Wide(UnixPath(target)) + L"\" \"" + Wide(UnixPath(link)) + L"\"";
  return RunUnixProgram(L"Z:\\bin\\ln", command,
                        [&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

bool MakeUnixCopy(const std::wstring& source, const std::wstring& target) {
  // Waits for cp to end, not only for the name to appear: the copy may
  // still be writing then.
  size_t slash = target.rfind(L'\\');
  std::wstring done = target.substr(0, slash) + L"\\..\\unix-copy.done";
  std::wstring command = L"cp '" + Wide(UnixPath(source)) + L"' '" + Wide(UnixPath(target)) + L"'";
  return RunUnixCommand(command, done);
}

bool RunUnixCommand(const std::wstring& command, const std::wstring& done, DWORD timeout_ms) {
  // The shell marks the command's end with a file of its own: the Unix
  // program's end is not always reported back, and its output may appear
  // before it is complete.
  DeleteFileW(done.c_str());
  // One argument for sh by the Windows rules that wine splits with: in
  // double quotes, so the command holds none (single quotes pass through).
  std::wstring shell = L"sh -c \"" + command + L" && touch '" + Wide(UnixPath(done)) + L"'\"";
  bool ok = RunUnixProgram(L"Z:\\bin\\sh", shell, [&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; },
                           timeout_ms);
  DeleteFileW(done.c_str());
  return ok;
}

std::string UnixPathOf(const std::wstring& windows_path) { return UnixPath(windows_path); }

// Whether anything is listed at path (a live link to a folder included).
static bool Listed(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

static void RemoveUnixLink(const std::wstring& link) {
  RunUnixProgram(L"Z:\\bin\\rm", L"rm -f \"" + Wide(UnixPath(link)) + L"\"", [&] { return !Listed(link); });
}
