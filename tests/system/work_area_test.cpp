// The work area of the real updater: folders, the lock, run folders and
// the log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/feed.h"
#include "support/files.h"
#include "support/release.h"
#include "support/updater.h"
#include "support/window_probe.h"

namespace {

void WriteCurrentRelease(const std::wstring& folder, const std::wstring& install) {
  Release release(folder);
  release.AddFile("Quenfar8.exe", "game v1");
  release.WriteManifest();
  WriteBytes(Join(install, L"Quenfar8.exe"), "game v1");
}

// The UTC time as the run folder's name writes it, to the minute.
std::wstring UtcMinute() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t text[32];
  swprintf(text, 32, L"%04u%02u%02u-%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
  return text;
}

TEST(WorkArea, FirstAndSecondStart) {
  std::wstring root = FreshTestFolder();
  InstallFolder install(Join(root, L"install"), ShippedUpdaterExe());
  WriteCurrentRelease(install.dir(), install.dir());

  std::vector<std::wstring> runs;
  for (int start = 1; start <= 2; ++start) {
    std::wstring minute_before = UtcMinute();
    Program program(install.exe(), L"/quiet", install.dir());
    ASSERT_TRUE(program.started());
    RunOutcome outcome = program.Wait();
    std::wstring minute_after = UtcMinute();
    EXPECT_EQ(outcome.exit_code, 0u);

    EXPECT_TRUE(IsFolder(install.WorkFolder()));
    std::wstring lock = Join(install.WorkFolder(), L"updater.lock");
    EXPECT_TRUE(Exists(lock) && !IsFolder(lock));
    EXPECT_EQ(ReadBytes(lock), "") << "the lock is never written";

    runs = install.RunFolders();
    ASSERT_EQ(runs.size(), size_t(start)) << "one run folder per start; none is removed";
    std::wstring newest;
    for (const std::wstring& run : runs) {
      std::wstring name = run.substr(run.rfind(L'\\') + 1);
      EXPECT_TRUE(IsRunFolderName(name)) << Utf8(name);
      if (name.substr(16) == std::to_wstring(program.pid())) newest = run;
    }
    ASSERT_FALSE(newest.empty()) << "no run folder ends with the process id";
    std::wstring name = newest.substr(newest.rfind(L'\\') + 1);
    std::wstring minute = name.substr(0, 13);
    EXPECT_TRUE(minute == minute_before || minute == minute_after) << Utf8(name);

    EXPECT_EQ(ListFolder(newest), (std::vector<std::wstring>{L"backup", L"manifest.ini", L"new", L"updater.log"}));
    EXPECT_TRUE(ListFolder(Join(newest, L"new")).empty());
    EXPECT_TRUE(ListFolder(Join(newest, L"backup")).empty());
    EXPECT_EQ(ReadBytes(Join(newest, L"updater.log")),
              "파일 확인 중: Quenfar8.exe\r\n"
              "검증 완료. 클라이언트에 적용 중...\r\n"
              "최신 클라이언트입니다. 게임 시작을 눌러 주세요.\r\n");
  }
}

// A work folder that is not a real folder ends start-up with 2, silently,
// and nothing is made through it.
TEST(WorkArea, WorkFolderMustBeARealFolder) {
  std::wstring root = FreshTestFolder();
  {
    InstallFolder install(Join(root, L"file"), ShippedUpdaterExe());
    WriteCurrentRelease(install.dir(), install.dir());
    WriteBytes(install.WorkFolder(), "not a folder");
    std::vector<std::wstring> before = ListTree(install.dir());
    for (const wchar_t* arguments : {L"", L"/quiet"}) {
      RunOutcome outcome = install.Run(arguments);
      EXPECT_EQ(outcome.exit_code, 2u);
      EXPECT_TRUE(outcome.boxes.empty());
      EXPECT_EQ(ListTree(install.dir()), before);
    }
  }
  {
    InstallFolder install(Join(root, L"link"), ShippedUpdaterExe());
    WriteCurrentRelease(install.dir(), install.dir());
    std::wstring elsewhere = Join(root, L"elsewhere");
    MakeFolder(elsewhere);
    ASSERT_TRUE(MakeUnixLink(elsewhere, install.WorkFolder()));
    RunOutcome outcome = install.Run(L"");
    EXPECT_EQ(outcome.exit_code, 2u);
    EXPECT_TRUE(outcome.boxes.empty());
    EXPECT_TRUE(ListFolder(elsewhere).empty()) << "the updater wrote through the link";
  }
}

// While one updater holds the lock, a second one on the same folder is
// refused (with the box unless /quiet) and makes no run folder; the first
// goes on undisturbed.
TEST(WorkArea, SecondUpdaterIsRefusedWhileTheFirstRuns) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  std::wstring root = FreshTestFolder();
  InstallFolder install(Join(root, L"install"), ShippedUpdaterExe());
  WriteCurrentRelease(feed.Folder("second-updater"), install.dir());
  // Every fetch of the first updater waits until the test lets it go on.
  std::string token = "second-updater-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  install.WriteFeed("https://localhost:" + std::to_string(feed.port) + "/hold/" + token + "/second-updater/");

  Program first(install.exe(), L"/quiet", install.dir());
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(WaitFor([&] { return install.RunFolders().size() == 1; }));

  RunOutcome shown = install.Run(L"");
  EXPECT_EQ(shown.exit_code, 2u);
  ASSERT_EQ(shown.boxes.size(), 1u);
  EXPECT_EQ(shown.boxes[0].caption, L"Quenfar8");
  EXPECT_EQ(shown.boxes[0].text, L"다른 패처가 실행 중이거나 설치 폴더에 쓰기 권한이 없습니다.");
  EXPECT_TRUE(shown.boxes[0].error_icon);

  RunOutcome quiet = install.Run(L"/quiet");
  EXPECT_EQ(quiet.exit_code, 2u);
  EXPECT_TRUE(quiet.boxes.empty());
  EXPECT_EQ(install.RunFolders().size(), 1u);

  feed.Release(token);
  RunOutcome done = first.Wait();
  EXPECT_EQ(done.exit_code, 0u);
  std::vector<std::wstring> runs = install.RunFolders();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(CrLfLines(ReadBytes(Join(runs[0], L"updater.log"))).back(), "최신 클라이언트입니다. 게임 시작을 눌러 주세요.");
}

// A lock held by any other program counts the same.
TEST(WorkArea, LockHeldByAnotherProgram) {
  std::wstring root = FreshTestFolder();
  InstallFolder install(Join(root, L"install"), ShippedUpdaterExe());
  WriteCurrentRelease(install.dir(), install.dir());
  MakeFolder(install.WorkFolder());
  HeldFile holder(Join(install.WorkFolder(), L"updater.lock"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  OPEN_ALWAYS);
  ASSERT_TRUE(holder.ok());
  RunOutcome outcome = install.Run(L"/quiet");
  EXPECT_EQ(outcome.exit_code, 2u);
  EXPECT_TRUE(install.RunFolders().empty());
}

}  // namespace
