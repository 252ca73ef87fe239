// The whole program on a client: current, replaced, patched and added
// files, from a package folder and from the HTTPS feed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/feed.h"
#include "support/files.h"
#include "support/release.h"
#include "support/updater.h"

namespace {

// An older client and the release that brings it up to date.
struct Scenario {
  std::string game, old_whole, new_whole, old_patched, new_patched, added;

  Scenario() {
    game = ReadBytes(FakeGameExe());
    old_whole = "whole file, old release";
    new_whole = "whole file, new release, a little longer";
    old_patched = Filler(300000, 7);
    new_patched = old_patched;
    new_patched.replace(150000, 5, "PATCH");
    new_patched += "appended";
    added = "a file the old client did not have";
  }

  void WriteClient(const InstallFolder& install, const std::wstring& tool) const {
    WriteBytes(install.Path(L"Quenfar8.exe"), game);
    WriteBytes(install.Path(L"whole.pak"), old_whole);
    WriteBytes(install.Path(L"patched.dat"), old_patched);
    EXPECT_TRUE(CopyFileW(tool.c_str(), install.Path(L"hpatchz.exe").c_str(), FALSE));
  }

  void WriteRelease(const std::wstring& folder) const {
    Release release(folder);
    release.AddFile("Quenfar8.exe", game);
    release.AddFile("whole.pak", new_whole);
    int patched = release.AddFile("patched.dat", new_patched);
    release.AddPatch(patched, "some other base");  // a foreign base is passed over
    release.AddPatch(patched, old_patched);
    release.AddFile("added.txt", added);
    release.WriteManifest();
  }

  void ExpectUpdated(const InstallFolder& install) const {
    EXPECT_EQ(ReadBytes(install.Path(L"Quenfar8.exe")), game);
    EXPECT_EQ(ReadBytes(install.Path(L"whole.pak")), new_whole);
    EXPECT_EQ(ReadBytes(install.Path(L"patched.dat")), new_patched);
    EXPECT_EQ(ReadBytes(install.Path(L"added.txt")), added);
  }

  void ExpectUntouched(const InstallFolder& install) const {
    EXPECT_EQ(ReadBytes(install.Path(L"Quenfar8.exe")), game);
    EXPECT_EQ(ReadBytes(install.Path(L"whole.pak")), old_whole);
    EXPECT_EQ(ReadBytes(install.Path(L"patched.dat")), old_patched);
    EXPECT_FALSE(Exists(install.Path(L"added.txt")));
  }
};

const std::vector<std::string> kFirstRunLog = {
    "파일 확인 중: Quenfar8.exe",
    "파일 확인 중: whole.pak",
    "파일 확인 중: patched.dat",
    "파일 확인 중: added.txt",
    "파일 받는 중: whole.pak",
    "변경분 받는 중: patched.dat",
    "파일 받는 중: added.txt",
    "검증 완료. 클라이언트에 적용 중...",
    "최신 클라이언트입니다. 게임 시작을 눌러 주세요.",
};

const std::vector<std::string> kSecondRunLog = {
    "파일 확인 중: Quenfar8.exe",
    "파일 확인 중: whole.pak",
    "파일 확인 중: patched.dat",
    "파일 확인 중: added.txt",
    "검증 완료. 클라이언트에 적용 중...",
    "최신 클라이언트입니다. 게임 시작을 눌러 주세요.",
};

// A client of the scenario, with the test patch tool, and its release in a
// package folder beside it.
struct PackagedClient {
  PackagedClient() : root(FreshTestFolder()), install(Join(root, L"client")) {
    s.WriteClient(install, TestPatchTool());
    s.WriteRelease(Join(root, L"package"));
    arguments = L"/quiet /package \"" + Join(root, L"package") + L"\"";
  }
  std::wstring root;
  Scenario s;
  InstallFolder install;
  std::wstring arguments;
};

// Runs the client up to date and then once more.
void UpdateTwice(const InstallFolder& install, const Scenario& s, const std::wstring& arguments) {
  InstallFolder::Result first = install.Update(arguments);
  EXPECT_EQ(first.outcome.exit_code, 0u);
  EXPECT_EQ(first.log, kFirstRunLog);
  s.ExpectUpdated(install);
  EXPECT_EQ(ListFolder(first.run_folder), (std::vector<std::wstring>{L"backup", L"manifest.ini", L"new", L"updater.log"}))
      << "the patch file is deleted once its file is rebuilt";
  EXPECT_TRUE(ListFolder(Join(first.run_folder, L"new")).empty());
  EXPECT_EQ(ListFolder(Join(first.run_folder, L"backup")), (std::vector<std::wstring>{L"patched.dat", L"whole.pak"}));
  EXPECT_EQ(ReadBytes(Join(first.run_folder, L"backup\\whole.pak")), s.old_whole);
  EXPECT_EQ(ReadBytes(Join(first.run_folder, L"backup\\patched.dat")), s.old_patched);

  InstallFolder::Result second = install.Update(arguments);
  EXPECT_EQ(second.outcome.exit_code, 0u);
  EXPECT_EQ(second.log, kSecondRunLog);
  s.ExpectUpdated(install);
  EXPECT_TRUE(ListFolder(Join(second.run_folder, L"new")).empty());
  EXPECT_TRUE(ListFolder(Join(second.run_folder, L"backup")).empty());
  // The first run's folder, with its backups, is still there.
  EXPECT_EQ(ReadBytes(Join(first.run_folder, L"backup\\whole.pak")), s.old_whole);
}

TEST(EndToEnd, FromAPackageFolder) {
  PackagedClient client;
  UpdateTwice(client.install, client.s, client.arguments);
}

TEST(EndToEnd, FromTheHttpsFeed) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  std::wstring root = FreshTestFolder();
  Scenario s;
  InstallFolder install(Join(root, L"client"));
  s.WriteClient(install, TestPatchTool());
  s.WriteRelease(feed.Folder("end-to-end"));
  install.WriteFeed(feed.Url("end-to-end"));
  UpdateTwice(install, s, L"/quiet");
}

// The released build accepts only the distributed patch tool: the test
// tool is refused after the patch has been fetched and verified, and the
// client is left as it was.
TEST(EndToEnd, ReleasedBuildRefusesAnyOtherPatchTool) {
  std::wstring root = FreshTestFolder();
  Scenario s;
  s.WriteRelease(Join(root, L"package"));
  struct {
    const char* what;
    std::wstring tool;  // empty: none; "folder": a folder of that name
  } const cases[] = {
      {"the test suite's tool", TestPatchTool()},
      {"another program", FakeGameExe()},
      {"no tool", L""},
      {"a folder", L"folder"},
  };
  int i = 0;
  for (const auto& c : cases) {
    InstallFolder install(Join(root, L"client" + std::to_wstring(i++)), ShippedUpdaterExe());
    s.WriteClient(install, TestPatchTool());
    DeleteFileW(install.Path(L"hpatchz.exe").c_str());
    if (c.tool == L"folder") {
      MakeFolder(install.Path(L"hpatchz.exe"));
    } else if (!c.tool.empty()) {
      CopyFileW(c.tool.c_str(), install.Path(L"hpatchz.exe").c_str(), FALSE);
    }
    InstallFolder::Result run = install.Update(L"/quiet /package \"" + Join(root, L"package") + L"\"");
    EXPECT_EQ(run.outcome.exit_code, 1u) << c.what;
    ASSERT_GE(run.log.size(), 2u) << c.what;
    EXPECT_EQ(run.log[run.log.size() - 2], "변경분 받는 중: patched.dat") << c.what;
    EXPECT_EQ(run.log.back(), "hpatchz.exe가 없거나 배포본과 다릅니다.") << c.what;
    s.ExpectUntouched(install);
    EXPECT_EQ(ReadBytes(Join(run.run_folder, L"patch-2.hdiff")), ReadBytes(Join(root, L"package\\patches\\2-1.qpatch")))
        << c.what << ": the verified patch stays in the run folder";
  }
}

// The game still running (holding a file that must be replaced) stops the
// run before anything is replaced; after the game ends, the next run works.
TEST(EndToEnd, FileInUseByTheGame) {
  PackagedClient client;
  const Scenario& s = client.s;
  const InstallFolder& install = client.install;
  const std::wstring& arguments = client.arguments;
  {
    HeldFile game_reads(install.Path(L"whole.pak"), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(game_reads.ok());
    InstallFolder::Result run = install.Update(arguments);
    EXPECT_EQ(run.outcome.exit_code, 1u);
    EXPECT_EQ(run.log.back(), "게임 또는 다른 프로그램이 파일을 사용 중입니다. 종료 후 다시 실행해 주세요.");
    s.ExpectUntouched(install);
    EXPECT_TRUE(ListFolder(Join(run.run_folder, L"backup")).empty());
  }
  InstallFolder::Result retry = install.Update(arguments);
  EXPECT_EQ(retry.outcome.exit_code, 0u);
  s.ExpectUpdated(install);
}

}  // namespace
