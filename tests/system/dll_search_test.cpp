// The DLL search of both programs: winhttp.dll and bcrypt.dll planted
// beside the program are never loaded; they come from the system folder.
//
// Wine normally uses its own copies of both whatever lies beside a
// program, so these tests run with WINEDLLOVERRIDES="winhttp,bcrypt=n,b"
// (set by the build's test list), which makes wine prefer DLLs found on
// the disk, as Windows always would. The
// planted stand-ins (tests/tools/planted_dll.c) leave "<dll>.loaded" beside
// themselves when loaded; a control build that imports both at start-up
// shows that the planting is seen.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "support/feed.h"
#include "support/files.h"
#include "support/release.h"
#include "support/release_tool.h"
#include "support/updater.h"

namespace {

const wchar_t* const kPlantedDlls[] = {L"winhttp.dll", L"bcrypt.dll"};

// Sets environment variables of this process (and so of the programs it
// starts) for the life of the object; each is removed again afterwards.
class ScopedEnvironment {
 public:
  using Values = std::vector<std::pair<std::wstring, std::wstring>>;
  explicit ScopedEnvironment(Values values) : values_(std::move(values)) {
    for (const auto& value : values_) SetEnvironmentVariableW(value.first.c_str(), value.second.c_str());
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (const auto& value : values_) SetEnvironmentVariableW(value.first.c_str(), nullptr);
  }

 private:
  Values values_;
};

// Copies the stand-in DLLs into folder.
void PlantDlls(const std::wstring& folder) {
  for (const wchar_t* dll : kPlantedDlls) {
    std::wstring source = Join(WindowsPath(QF8_PLANTED_DLLS), dll);
    ASSERT_TRUE(CopyFileW(source.c_str(), Join(folder, dll).c_str(), FALSE)) << Utf8(source);
  }
}

// The planted DLLs that were loaded, by the markers they left in folder.
std::vector<std::wstring> LoadedPlantedDlls(const std::wstring& folder) {
  std::vector<std::wstring> loaded;
  for (const wchar_t* dll : kPlantedDlls) {
    if (Exists(Join(folder, std::wstring(dll) + L".loaded"))) loaded.push_back(dll);
  }
  return loaded;
}

struct UpdaterCase {
  const char* what;
  std::wstring exe;
  const wchar_t* search;  // QUENFAR8_TEST_DLL_SEARCH for the run; empty: none
  bool hardened;          // false for the control build
};

// An old client with the planted DLLs beside the updater, updated from the
// HTTPS feed: the hardened builds fetch, check every digest and install
// the release without loading either DLL; the control build loads both.
TEST(DllSearch, DllsPlantedBesideTheUpdaterAreNeverLoaded) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  const UpdaterCase cases[] = {
      {"released build", ShippedUpdaterExe(), L"", true},
      {"test build", TestUpdaterExe(), L"", true},
      {"test build on a system without SetDefaultDllDirectories", TestUpdaterExe(), L"fallback", true},
      {"control build with the default DLL search", WindowsPath(QF8_DEFAULT_DLL_SEARCH_UPDATER), L"", false},
  };
  int n = 0;
  for (const UpdaterCase& c : cases) {
    std::string name = "dll-search-" + std::to_string(n++);
    std::wstring root = FreshTestFolder(Wide(name));
    InstallFolder install(Join(root, L"client"), c.exe);
    PlantDlls(install.dir());
    WriteBytes(install.Path(L"data.pak"), "old bytes");
    Release release(feed.Folder(name));
    release.AddFile("Quenfar8.exe", "game");
    release.AddFile("data.pak", "new bytes of the release");
    release.WriteManifest();
    install.WriteFeed(feed.Url(name));

    ScopedEnvironment environment(ScopedEnvironment::Values{{L"QUENFAR8_TEST_DLL_SEARCH", c.search}});
    InstallFolder::Result result = install.Update(L"/quiet");
    EXPECT_FALSE(result.outcome.timed_out) << c.what;
    if (c.hardened) {
      EXPECT_TRUE(LoadedPlantedDlls(install.dir()).empty()) << c.what;
      EXPECT_EQ(result.outcome.exit_code, 0u) << c.what;
      EXPECT_EQ(ReadBytes(install.Path(L"data.pak")), "new bytes of the release") << c.what;
      EXPECT_EQ(ReadBytes(install.Path(L"Quenfar8.exe")), "game") << c.what;
      ASSERT_FALSE(result.log.empty()) << c.what;
      EXPECT_EQ(result.log.back(), "최신 클라이언트입니다. 게임 시작을 눌러 주세요.") << c.what;
    } else {
      // Both are imported at start-up and both are found beside the exe;
      // their failing calls end the run as a failed download.
      EXPECT_EQ(LoadedPlantedDlls(install.dir()), (std::vector<std::wstring>{L"winhttp.dll", L"bcrypt.dll"}))
          << c.what;
      EXPECT_EQ(result.outcome.exit_code, 1u) << c.what;
      EXPECT_EQ(ReadBytes(install.Path(L"data.pak")), "old bytes") << c.what;
    }
  }
}

// The release tool beside the planted DLLs checks a served feed over
// HTTPS, downloading and hashing every file, without loading either.
TEST(DllSearch, DllsPlantedBesideTheReleaseToolAreNeverLoaded) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  std::wstring tool_folder = FreshTestFolder(L"tool");
  std::wstring tool = Join(tool_folder, L"Quenfar8Release.exe");
  ASSERT_TRUE(CopyFileW(ReleaseToolExe().c_str(), tool.c_str(), FALSE));
  PlantDlls(tool_folder);
  const std::wstring served = feed.Folder("dll-search-tool");
  Release release(served);
  release.AddFile("Quenfar8.exe", "game");
  release.AddFile("data.pak", "bytes of the release");
  release.WriteManifest();

  RunOutcome good = RunProgram(tool, L"check " + Wide(feed.Url("dll-search-tool")), tool_folder, 120000);
  EXPECT_FALSE(good.timed_out);
  EXPECT_EQ(good.exit_code, 0u);
  // The check can fail: a digest that does not match is a problem found.
  WriteBytes(Join(served, L"files\\data.pak"), "other bytes of the release");
  RunOutcome bad = RunProgram(tool, L"check " + Wide(feed.Url("dll-search-tool")), tool_folder, 120000);
  EXPECT_FALSE(bad.timed_out);
  EXPECT_EQ(bad.exit_code, 1u);
  EXPECT_TRUE(LoadedPlantedDlls(tool_folder).empty());
}

// System DLLs that cannot be loaded (a stand-in system folder without
// them) end start-up with exit code 2, silently and before the work area
// is made, never with a crash; so the delay-load stubs are never reached.
TEST(DllSearch, SystemDllsThatCannotBeLoadedEndStartUpWithTwo) {
  const wchar_t* const searches[] = {L"", L"fallback"};
  for (const wchar_t* search : searches) {
    std::wstring root = FreshTestFolder(std::wstring(L"no-system-dlls-") + search);
    std::wstring empty_system = Join(root, L"system");
    MakeFolder(empty_system);
    InstallFolder install(Join(root, L"client"));
    WriteBytes(install.Path(L"Quenfar8.exe"), "game");
    Release release(Join(root, L"package"));
    release.AddFile("Quenfar8.exe", "game");
    release.WriteManifest();
    std::vector<std::wstring> before = ListTree(install.dir());

    ScopedEnvironment environment(ScopedEnvironment::Values{
        {L"QUENFAR8_TEST_SYSTEM_FOLDER", empty_system}, {L"QUENFAR8_TEST_DLL_SEARCH", search}});
    RunOutcome outcome = install.Run(L"/quiet /package \"" + Join(root, L"package") + L"\"");
    EXPECT_FALSE(outcome.timed_out) << Utf8(search);
    EXPECT_EQ(outcome.exit_code, 2u) << Utf8(search);
    EXPECT_TRUE(outcome.boxes.empty()) << Utf8(search);
    EXPECT_EQ(ListTree(install.dir()), before) << Utf8(search);
  }
  // The same client and package with the real system folder: it runs.
  std::wstring root = FreshTestFolder(L"system-dlls");
  InstallFolder install(Join(root, L"client"));
  WriteBytes(install.Path(L"Quenfar8.exe"), "game");
  Release release(Join(root, L"package"));
  release.AddFile("Quenfar8.exe", "game");
  release.WriteManifest();
  EXPECT_EQ(install.Run(L"/quiet /package \"" + Join(root, L"package") + L"\"").exit_code, 0u);
}

}  // namespace
