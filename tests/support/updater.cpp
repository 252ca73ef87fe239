#include "support/updater.h"

#include <gtest/gtest.h>

#include "support/files.h"

#if !defined(QF8_SHIPPED_UPDATER) || !defined(QF8_TEST_UPDATER) || !defined(QF8_TEST_PATCH_TOOL) || \
    !defined(QF8_FAKE_GAME) || !defined(QF8_BUILD_DIR)
#error "the build must name the programs under test"
#endif

std::wstring ShippedUpdaterExe() { return WindowsPath(QF8_SHIPPED_UPDATER); }
std::wstring TestUpdaterExe() { return WindowsPath(QF8_TEST_UPDATER); }
std::wstring TestPatchTool() { return WindowsPath(QF8_TEST_PATCH_TOOL); }
std::wstring FakeGameExe() { return WindowsPath(QF8_FAKE_GAME); }
std::wstring BuildFolder() { return WindowsPath(QF8_BUILD_DIR); }

InstallFolder::InstallFolder(const std::wstring& dir, const std::wstring& updater) : dir_(dir) {
  MakeFolder(dir_);
  EXPECT_TRUE(CopyFileW(updater.c_str(), exe().c_str(), FALSE)) << Utf8(exe());
}

std::wstring InstallFolder::exe() const { return Join(dir_, L"Quenfar8Updater.exe"); }
std::wstring InstallFolder::Path(const std::wstring& name) const { return Join(dir_, name); }
std::wstring InstallFolder::WorkFolder() const { return Join(dir_, L".quenfar8-update"); }

void InstallFolder::WriteFeed(const std::string& feed) {
  WriteBytes(Path(L"Quenfar8Updater.ini"), "[updater]\r\nfeed=" + feed + "\r\n");
}

RunOutcome InstallFolder::Run(const std::wstring& arguments, const std::wstring& folder, unsigned timeout_ms) const {
  return RunProgram(exe(), arguments, folder.empty() ? dir_ : folder, timeout_ms);
}

bool IsRunFolderName(const std::wstring& name) {
  if (name.size() < 17) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    bool digit = name[i] >= L'0' && name[i] <= L'9';
    if (i == 8 || i == 15) {
      if (name[i] != L'-') return false;
    } else if (!digit) {
      return false;
    }
  }
  return name[16] != L'0';
}

std::vector<std::wstring> InstallFolder::RunFolders() const {
  std::vector<std::wstring> folders;
  for (const std::wstring& name : ListFolder(WorkFolder())) {
    // The work folder also holds the lock and, with a publisher key, the
    // release serial's record: files, never run folders.
    if (IsFolder(Join(WorkFolder(), name))) folders.push_back(Join(WorkFolder(), name));
  }
  return folders;
}

InstallFolder::Result InstallFolder::Update(const std::wstring& arguments, const std::wstring& folder,
                                            unsigned timeout_ms) const {
  std::vector<std::wstring> before = RunFolders();
  Result result;
  result.outcome = Run(arguments, folder, timeout_ms);
  for (const std::wstring& run_folder : RunFolders()) {
    // A pruned folder's new name (".removing") is no run folder.
    if (!IsRunFolderName(run_folder.substr(run_folder.rfind(L'\\') + 1))) continue;
    bool old = false;
    for (const std::wstring& known : before) old = old || known == run_folder;
    if (!old) {
      EXPECT_TRUE(result.run_folder.empty()) << "more than one new run folder";
      result.run_folder = run_folder;
    }
  }
  if (!result.run_folder.empty()) result.log = CrLfLines(ReadBytes(Join(result.run_folder, L"updater.log")));
  return result;
}

// The size of the file at path; 0 when it cannot be read.
static unsigned long long SizeOfFile(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

unsigned long long KillUpdaterWhenHeld(const InstallFolder& install, const std::wstring& partial,
                                       unsigned long long mark, unsigned timeout_ms) {
  Program updater(install.exe(), L"/quiet", install.dir());
  if (!updater.started()) return 0;
  bool reached = false;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < Deadline(timeout_ms)) {
    if (SizeOfFile(partial) >= mark) {
      reached = true;
      break;
    }
    DWORD code = 0;
    if (updater.WaitEnded(0, &code)) break;
    Sleep(1);
  }
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, updater.pid());
  if (process != nullptr) {
    TerminateProcess(process, 9);
    WaitForSingleObject(process, 30000);
    CloseHandle(process);
  }
  if (!reached) return 0;
  unsigned long long held = SizeOfFile(partial);
  DWORD steady_since = GetTickCount();
  bool steady = WaitFor([&] {
    unsigned long long now = SizeOfFile(partial);
    if (now != held) {
      held = now;
      steady_since = GetTickCount();
    }
    return GetTickCount() - steady_since >= 1000;
  }, 30000);
  return steady ? held : 0;
}
