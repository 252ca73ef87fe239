// The optional keys of Quenfar8Updater.ini on the real updater: a value it
// does not understand, and keep_runs, which prunes old run folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/messages.h"
#include "support/release.h"
#include "support/updater.h"

namespace {

// The line that says a key's value was not understood.
std::string IgnoredLine(const std::string& key) {
  return "Quenfar8Updater.ini의 " + key + " 값을 알 수 없어 기본 동작으로 진행합니다.";
}

// The log of a run that finds the client current: what every run here
// says after its option lines.
const std::vector<std::string> kCurrentLog = {std::string(kChecking) + "Quenfar8.exe", kApplying, kReady};

// A current client (game v1) and its package folder beside it.
struct CurrentClient {
  std::wstring root = FreshTestFolder();
  std::wstring package = Join(root, L"package");
  InstallFolder install{Join(root, L"install")};

  CurrentClient() {
    Release release(package);
    release.AddFile("Quenfar8.exe", "game v1");
    release.WriteManifest();
    WriteBytes(install.Path(L"Quenfar8.exe"), "game v1");
  }

  void WriteIni(const std::string& keys) const {
    WriteBytes(install.Path(L"Quenfar8Updater.ini"), "[updater]\r\n" + keys);
  }

  InstallFolder::Result Update() const { return install.Update(L"/quiet /package \"" + package + L"\""); }
};

// Absent or empty keys, and values that are understood: the log is
// today's, line for line.
TEST(IniOptions, AbsentEmptyOrUnderstoodKeysLogNothingMore) {
  const char* const inis[] = {
      "",
      "network=\r\nkeep_runs=\r\nprogress=\r\n",
      "keep_runs=4\r\n",  // with its own, three run folders: nothing to prune yet
      "network=resilient\r\nkeep_runs=100\r\nprogress=bytes\r\n",
  };
  CurrentClient client;
  for (const char* ini : inis) {
    SCOPED_TRACE(ini);
    client.WriteIni(ini);
    InstallFolder::Result run = client.Update();
    EXPECT_EQ(run.outcome.exit_code, 0u);
    EXPECT_EQ(run.log, kCurrentLog);
  }
}

// A value the updater does not understand: one line naming the key, first
// in the log, and the run goes on as without the key.
TEST(IniOptions, EachValueNotUnderstoodIsOneLineFirstAndTheRunGoesOn) {
  const struct {
    const char* ini;
    std::vector<std::string> first_lines;
  } cases[] = {
      {"network=Resilient\r\n", {IgnoredLine("network")}},
      {"network=fast\r\n", {IgnoredLine("network")}},
      {"keep_runs=0\r\n", {IgnoredLine("keep_runs")}},
      {"keep_runs=101\r\n", {IgnoredLine("keep_runs")}},
      {"keep_runs=-1\r\n", {IgnoredLine("keep_runs")}},
      {"keep_runs=three\r\n", {IgnoredLine("keep_runs")}},
      {"keep_runs=3 runs\r\n", {IgnoredLine("keep_runs")}},
      {"keep_runs=99999999999999999999999\r\n", {IgnoredLine("keep_runs")}},
      {"progress=BYTES\r\n", {IgnoredLine("progress")}},
      {"progress=percent\r\n", {IgnoredLine("progress")}},
      {"progress=bytes\r\nnetwork=on\r\n", {IgnoredLine("network")}},
      {"progress=files\r\nkeep_runs=1000\r\nnetwork=yes\r\n",
       {IgnoredLine("network"), IgnoredLine("keep_runs"), IgnoredLine("progress")}},
  };
  CurrentClient client;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    client.WriteIni(c.ini);
    InstallFolder::Result run = client.Update();
    EXPECT_EQ(run.outcome.exit_code, 0u);
    std::vector<std::string> expected = c.first_lines;
    expected.insert(expected.end(), kCurrentLog.begin(), kCurrentLog.end());
    EXPECT_EQ(run.log, expected);
  }
  // A bad keep_runs keeps every run folder, as without the key.
  EXPECT_EQ(client.install.RunFolders().size(), sizeof cases / sizeof cases[0]);
}

// An earlier start's run folder with a log and a backup of `bytes` bytes.
void MakeRunFolder(const InstallFolder& install, const std::wstring& name, size_t bytes) {
  std::wstring run = Join(install.WorkFolder(), name);
  MakeFolder(install.WorkFolder());
  MakeFolder(run);
  MakeFolder(Join(run, L"new"));
  MakeFolder(Join(run, L"backup"));
  WriteBytes(Join(run, L"updater.log"), "0123456789");  // 10 bytes
  WriteBytes(Join(Join(run, L"backup"), L"data.pak"), Filler(bytes, 3));
}

// The names of the work folder's entries.
std::vector<std::wstring> WorkEntries(const InstallFolder& install) { return ListFolder(install.WorkFolder()); }

std::wstring NameOf(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }

// The line of a pruning; size as the player reads it (4,020 bytes are
// "3.9 KB").
std::string PrunedLine(int folders, const std::string& size) {
  return "이전 업데이트 폴더 " + std::to_string(folders) + "개를 정리해 " + size + "를 확보했습니다.";
}

// Entries of the work folder that are not run folders, and folders whose
// names only look like run folders: all stay.
void MakeOtherRecords(const InstallFolder& install) {
  MakeFolder(install.WorkFolder());
  WriteBytes(Join(install.WorkFolder(), L"release.serial"), "7");
  MakeFolder(Join(install.WorkFolder(), L"partial"));
  WriteBytes(Join(Join(install.WorkFolder(), L"partial"), L"record"), "a partial download's record");
  for (const wchar_t* name : {L"20200101-101010-0", L"20200101-101010-x1", L"2020010-1101010-1", L"notes"}) {
    MakeFolder(Join(install.WorkFolder(), name));
    WriteBytes(Join(Join(install.WorkFolder(), name), L"kept.txt"), "kept");
  }
  WriteBytes(Join(install.WorkFolder(), L"20200101-101010-5"), "a file with a run folder's name");
}

const std::vector<std::wstring> kOtherRecords = {L"2020010-1101010-1", L"20200101-101010-0", L"20200101-101010-5",
                                                 L"20200101-101010-x1", L"notes", L"partial", L"release.serial",
                                                 L"updater.lock"};

// After several good runs exactly keep_runs run folders remain, the
// newest ones; the oldest go first, by time and then by process id;
// nothing else in the work folder is touched.
TEST(KeepRuns, SeveralGoodRunsLeaveExactlyTheNewest) {
  CurrentClient client;
  client.WriteIni("keep_runs=2\r\n");
  MakeOtherRecords(client.install);
  // Two starts in one second: the lower process id is the older one.
  MakeRunFolder(client.install, L"20210305-080000-900", 1000);
  MakeRunFolder(client.install, L"20210305-080000-1000", 2000);
  MakeRunFolder(client.install, L"20210305-075959-4000", 3000);

  // The first run removes the two oldest (4000 and 900), keeps 1000 and its own.
  InstallFolder::Result first = client.Update();
  EXPECT_EQ(first.outcome.exit_code, 0u);
  std::vector<std::string> expected = {kCurrentLog[0], kCurrentLog[1],
                                       PrunedLine(2, "3.9 KB"), kReady};
  EXPECT_EQ(first.log, expected);
  std::vector<std::wstring> after_first = kOtherRecords;
  after_first.push_back(L"20210305-080000-1000");
  after_first.push_back(NameOf(first.run_folder));
  std::sort(after_first.begin(), after_first.end());
  std::vector<std::wstring> entries = WorkEntries(client.install);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, after_first);

  // Every later run removes the one before the last.
  std::wstring previous = first.run_folder;
  for (int start = 0; start < 3; ++start) {
    InstallFolder::Result run = client.Update();
    EXPECT_EQ(run.outcome.exit_code, 0u);
    ASSERT_EQ(run.log.size(), 4u);
    EXPECT_EQ(run.log.back(), kReady);
    EXPECT_EQ(run.log[2].rfind("이전 업데이트 폴더 1개를 정리해 ", 0), 0u) << run.log[2];
    std::vector<std::wstring> now = WorkEntries(client.install);
    std::vector<std::wstring> wanted = kOtherRecords;
    wanted.push_back(NameOf(previous));
    wanted.push_back(NameOf(run.run_folder));
    std::sort(now.begin(), now.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(now, wanted);
    previous = run.run_folder;
  }
  for (const wchar_t* name : {L"20200101-101010-0", L"20200101-101010-x1", L"2020010-1101010-1", L"notes"}) {
    EXPECT_EQ(ReadBytes(Join(Join(client.install.WorkFolder(), name), L"kept.txt")), "kept");
  }
  EXPECT_EQ(ReadBytes(Join(Join(client.install.WorkFolder(), L"partial"), L"record")), "a partial download's record");
  EXPECT_EQ(ReadBytes(Join(client.install.WorkFolder(), L"release.serial")), "7");
}

// A run that fails removes nothing: the backups of the runs before may be
// all the player has.
TEST(KeepRuns, AFailedRunRemovesNothing) {
  CurrentClient client;
  client.WriteIni("keep_runs=1\r\n");
  MakeRunFolder(client.install, L"20210305-080000-900", 1000);
  MakeRunFolder(client.install, L"20210306-080000-901", 1000);
  Release release(client.package);
  release.AddFile("Quenfar8.exe", "game v2");
  release.WriteManifest();
  DeleteFileW(Join(client.package, L"files\\quenfar8.exe").c_str());

  InstallFolder::Result run = client.Update();
  EXPECT_EQ(run.outcome.exit_code, 1u);
  ASSERT_FALSE(run.log.empty());
  EXPECT_EQ(run.log.back(), kDownloadCheck);
  EXPECT_EQ(client.install.RunFolders().size(), 3u);
  EXPECT_EQ(ReadBytes(Join(client.install.WorkFolder(), L"20210305-080000-900\\backup\\data.pak")), Filler(1000, 3));
  EXPECT_EQ(ReadBytes(client.install.Path(L"Quenfar8.exe")), "game v1");
}

// A file held open by another program in an old run folder: that folder
// stays for a later run (renamed, or as it was where the rename itself is
// refused), the run succeeds, and once the file is free the next good run
// finishes the removal.
TEST(KeepRuns, AHeldFileInAnOldFolderDoesNotFailTheRun) {
  CurrentClient client;
  client.WriteIni("keep_runs=1\r\n");
  MakeRunFolder(client.install, L"20210305-080000-900", 1000);
  MakeRunFolder(client.install, L"20210306-080000-901", 2000);
  const std::wstring held_name = L"20210305-080000-900";
  const std::wstring work = client.install.WorkFolder();
  InstallFolder::Result first;
  {
    HeldFile held(Join(work, held_name + L"\\backup\\data.pak"), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(held.ok());
    first = client.Update();
    EXPECT_EQ(first.outcome.exit_code, 0u);
    ASSERT_EQ(first.log.size(), 4u);
    EXPECT_EQ(first.log[2].rfind("이전 업데이트 폴더 1개를 정리해 ", 0), 0u) << first.log[2];
    EXPECT_EQ(first.log.back(), kReady);
    EXPECT_FALSE(Exists(Join(work, L"20210306-080000-901")));
    std::wstring stays = Exists(Join(work, held_name)) ? Join(work, held_name) : Join(work, held_name + L".removing");
    EXPECT_EQ(ReadBytes(Join(stays, L"backup\\data.pak")), Filler(1000, 3)) << Utf8(stays);
  }
  InstallFolder::Result second = client.Update();
  EXPECT_EQ(second.outcome.exit_code, 0u);
  ASSERT_EQ(second.log.size(), 4u);
  EXPECT_EQ(second.log[2].rfind("이전 업데이트 폴더 2개를 정리해 ", 0), 0u) << second.log[2];
  std::vector<std::wstring> wanted = {NameOf(second.run_folder), L"updater.lock"};
  std::vector<std::wstring> entries = WorkEntries(client.install);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, wanted);
}

}  // namespace
