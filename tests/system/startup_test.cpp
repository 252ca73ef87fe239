// Start-up of the real updater: install folder, command line, INI file and
// the choice of the release source, judged by exit code, message boxes and
// what appears on disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/release.h"
#include "support/updater.h"
#include "support/window_probe.h"

namespace {

const wchar_t kCaption[] = L"Quenfar8";
const wchar_t kNoSource[] = L"Quenfar8Updater.ini에 HTTPS 패치 배포 주소를 설정해 주세요.";

// A release in folder whose only file is the installed game, already
// current: a run over it succeeds without changing anything.
void WriteCurrentRelease(const std::wstring& folder, const std::wstring& install) {
  Release release(folder);
  release.AddFile("Quenfar8.exe", "game v1");
  release.WriteManifest();
  WriteBytes(Join(install, L"Quenfar8.exe"), "game v1");
}

struct ArgumentCase {
  const char* what;
  std::wstring arguments;
};

// Arguments that end start-up with exit code 2, silently, before anything
// is made on disk, even though a usable package folder exists.
TEST(StartUp, BadArgumentsEndWithTwoAndCreateNothing) {
  std::wstring root = FreshTestFolder();
  InstallFolder install(Join(root, L"install"), ShippedUpdaterExe());
  WriteCurrentRelease(Join(root, L"pkg"), install.dir());
  std::wstring pkg = Join(root, L"pkg");
  const ArgumentCase cases[] = {
      {"stray word", L"hello"},
      {"value without option", L"\"" + pkg + L"\""},
      {"/package as the last argument", L"/quiet /package"},
      {"option in capitals", L"/QUIET"},
      {"option in mixed case", L"/Package \"" + pkg + L"\""},
      {"option with a dash", L"-quiet"},
      {"apply-only with a dash", L"-apply-only"},
      {"option with a suffix", L"/quiet2"},
      {"package path that cannot be resolved", L"/package \"\""},
      {"package path of 1024 characters or more", L"/package " + std::wstring(1100, L'p')},
      {"good options then a stray word", L"/quiet /package \"" + pkg + L"\" extra"},
  };
  std::vector<std::wstring> before = ListTree(install.dir());
  for (const ArgumentCase& c : cases) {
    RunOutcome outcome = install.Run(c.arguments);
    EXPECT_EQ(outcome.exit_code, 2u) << c.what;
    EXPECT_TRUE(outcome.boxes.empty()) << c.what;
    EXPECT_EQ(ListTree(install.dir()), before) << c.what;
  }
}

// A usable source is absent or refused: the message box, unless /quiet.
TEST(StartUp, NoUsableSourceShowsTheBoxUnlessQuiet) {
  std::wstring root = FreshTestFolder();
  struct {
    const char* what;
    const char* ini;  // null: no INI file
    bool local_manifest;
  } const cases[] = {
      {"no INI, no manifest", nullptr, false},
      {"empty feed, no manifest", "[updater]\r\nfeed=\r\n", false},
      {"prefix and slash only (9 characters)", "[updater]\r\nfeed=https:///\r\n", false},
      {"prefix in capitals", "[updater]\r\nfeed=HTTPS://a/\r\n", false},
      {"plain http", "[updater]\r\nfeed=http://a/\r\n", false},
      {"no final slash", "[updater]\r\nfeed=https://a\r\n", false},
      {"bad feed beside a local manifest", "[updater]\r\nfeed=http://a/\r\n", true},
  };
  int i = 0;
  for (const auto& c : cases) {
    InstallFolder install(Join(root, L"case" + std::to_wstring(i++)), ShippedUpdaterExe());
    if (c.ini != nullptr) WriteBytes(install.Path(L"Quenfar8Updater.ini"), c.ini);
    if (c.local_manifest) WriteCurrentRelease(install.dir(), install.dir());
    std::vector<std::wstring> before = ListTree(install.dir());

    RunOutcome shown = install.Run(L"");
    EXPECT_EQ(shown.exit_code, 2u) << c.what;
    ASSERT_EQ(shown.boxes.size(), 1u) << c.what;
    EXPECT_EQ(shown.boxes[0].caption, kCaption) << c.what;
    EXPECT_EQ(shown.boxes[0].text, kNoSource) << c.what;
    EXPECT_TRUE(shown.boxes[0].error_icon) << c.what;

    RunOutcome quiet = install.Run(L"/quiet");
    EXPECT_EQ(quiet.exit_code, 2u) << c.what;
    EXPECT_TRUE(quiet.boxes.empty()) << c.what;
    EXPECT_EQ(ListTree(install.dir()), before) << c.what;
  }
}

// Accepted feeds get past start-up: the work area appears and the run
// fails at the download (nothing listens there), so /quiet ends with 1.
TEST(StartUp, AcceptedFeedsReachTheRun) {
  std::wstring root = FreshTestFolder();
  const char* const feeds[] = {
      "https://a/",            // 10 characters: the shortest accepted
      "\"https://a/\"",        // quotes are the INI reader's, not the feed's
      "https://a/some/folder/",
  };
  int i = 0;
  for (const char* feed : feeds) {
    InstallFolder install(Join(root, L"case" + std::to_wstring(i++)), ShippedUpdaterExe());
    install.WriteFeed(feed);
    InstallFolder::Result run = install.Update(L"/quiet");
    EXPECT_EQ(run.outcome.exit_code, 1u) << feed;
    EXPECT_FALSE(run.run_folder.empty()) << feed;
    EXPECT_EQ(run.log, std::vector<std::string>{"패치 다운로드에 실패했습니다. 연결과 배포 주소를 확인해 주세요."}) << feed;
  }
}

// The manifest beside the executable is used only when the feed is empty,
// and only when it is a regular file.
TEST(StartUp, LocalManifestBesideTheExecutable) {
  std::wstring root = FreshTestFolder();
  {
    InstallFolder install(Join(root, L"file"), ShippedUpdaterExe());
    WriteCurrentRelease(install.dir(), install.dir());
    install.WriteFeed("");
    InstallFolder::Result run = install.Update(L"/quiet");
    EXPECT_EQ(run.outcome.exit_code, 0u);
    EXPECT_EQ(run.log.back(), "최신 클라이언트입니다. 게임 시작을 눌러 주세요.");
  }
  {
    InstallFolder install(Join(root, L"folder"), ShippedUpdaterExe());
    MakeFolder(install.Path(L"manifest.ini"));
    RunOutcome outcome = install.Run(L"");
    EXPECT_EQ(outcome.exit_code, 2u);
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].text, kNoSource);
  }
  {
    InstallFolder install(Join(root, L"link"), ShippedUpdaterExe());
    MakeFolder(Join(root, L"elsewhere"));
    ASSERT_TRUE(MakeUnixLink(Join(root, L"elsewhere"), install.Path(L"manifest.ini")));
    RunOutcome outcome = install.Run(L"");
    EXPECT_EQ(outcome.exit_code, 2u);
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].text, kNoSource);
  }
}

// /package: relative to the current folder, the later one wins, and a bad
// INI file does not matter.
TEST(StartUp, PackageFolderChoices) {
  std::wstring root = FreshTestFolder();
  InstallFolder install(Join(root, L"install"), ShippedUpdaterExe());
  install.WriteFeed("http://not-checked-with-a-package/");
  std::wstring current = Join(root, L"current");
  MakeFolder(current);
  WriteCurrentRelease(Join(current, L"pkg"), install.dir());
  struct {
    const char* what;
    std::wstring arguments;
  } const cases[] = {
      {"relative to the current folder", L"/quiet /package pkg"},
      {"relative with dots", L"/package .\\x\\..\\pkg /quiet"},
      {"given twice, the second wins", L"/package nowhere /quiet /package pkg"},
      {"options repeated", L"/quiet /quiet /package pkg /apply-only /apply-only"},
  };
  for (const auto& c : cases) {
    InstallFolder::Result run = install.Update(c.arguments, current);
    EXPECT_EQ(run.outcome.exit_code, 0u) << c.what;
    EXPECT_EQ(run.log.back(), "최신 클라이언트입니다. 게임 시작을 눌러 주세요.") << c.what;
  }
  // The install folder is not where a relative package is looked for.
  InstallFolder::Result run = install.Update(L"/quiet /package current\\pkg", install.dir());
  EXPECT_EQ(run.outcome.exit_code, 1u);
  EXPECT_EQ(run.log, std::vector<std::string>{"패키지 파일이 없습니다."});
}

// The word after /package is always the folder: "/package /quiet" names a
// folder called quiet in the root of the current drive and leaves the
// window interactive.
TEST(StartUp, PackageSwallowsTheNextOption) {
  std::wstring root = FreshTestFolder();
  InstallFolder install(Join(root, L"install"), ShippedUpdaterExe());
  ASSERT_FALSE(Exists(L"Z:\\quiet"));
  Program program(install.exe(), L"/package /quiet", install.dir());
  ASSERT_TRUE(program.started());
  UpdaterWindow window;
  ASSERT_TRUE(FindUpdaterWindow(program.pid(), &window));
  ASSERT_TRUE(WaitFor([&] { return WindowText(window.label) == L"패키지 파일이 없습니다."; }));
  EXPECT_TRUE(IsWindowVisible(window.main)) << "quiet was set";
  ASSERT_TRUE(CloseWhenRunEnds(window));
  DWORD exit_code = 99;
  ASSERT_TRUE(program.WaitEnded(30000, &exit_code));
  EXPECT_EQ(exit_code, 0u);
  std::vector<std::wstring> runs = install.RunFolders();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(CrLfLines(ReadBytes(Join(runs[0], L"updater.log"))), std::vector<std::string>{"패키지 파일이 없습니다."});
}

}  // namespace
