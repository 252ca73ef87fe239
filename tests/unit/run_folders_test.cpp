// The run-folder pruning in-process, over the real file system: which
// names it counts as run folders, and what one pruning removes and frees.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cleanup/run_folders.h"
#include "support/files.h"

namespace {

TEST(RunFolderNames, OnlyTheRunFolderFormCounts) {
  const struct {
    const wchar_t* name;
    int run_form;
  } cases[] = {
      {L"20261210-170000-1", 1},
      {L"20261210-170000-4242", 1},
      {L"20261210-170000-1234567890", 1},   // the largest process id
      {L"20261210-170000-12345678901", 0},  // one digit too many
      {L"20261210-170000-0", 0},            // a leading zero
      {L"20261210-170000-01", 0},
      {L"20261210-170000-", 0},
      {L"20261210-17000-11", 0},
      {L"2026121-0170000-1", 0},
      {L"20261210_170000-1", 0},
      {L"2026121a-170000-1", 0},
      {L"20261210-170000-1x", 0},
      {L"updater.lock", 0},
      {L"partial", 0},
      {L"", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HasRunFolderForm(c.name), c.run_form) << Utf8(c.name);
    std::wstring removing = std::wstring(c.name) + L".removing";
    EXPECT_EQ(HasRemovingFolderForm(removing.c_str()), c.run_form) << Utf8(removing);
    EXPECT_EQ(HasRemovingFolderForm(c.name), 0) << Utf8(c.name);
  }
  EXPECT_EQ(HasRemovingFolderForm(L"20261210-170000-1.removing.removing"), 0);
  EXPECT_EQ(HasRemovingFolderForm(L".removing"), 0);
  EXPECT_EQ(HasRunFolderForm(L"20261210-170000-1.removing"), 0);
}

// A run folder with a log and a backup of size bytes.
void MakeRun(const std::wstring& work, const std::wstring& name, size_t size) {
  std::wstring run = Join(work, name);
  MakeFolder(run);
  MakeFolder(Join(run, L"new"));
  MakeFolder(Join(run, L"backup"));
  WriteBytes(Join(run, L"updater.log"), "0123456789");
  WriteBytes(Join(run, L"backup\\data.pak"), Filler(size, 5));
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// Oldest first by time, then by process id; the current folder is kept
// whatever its name says; a folder an earlier pruning began is finished;
// other entries stay; the bytes of every deleted file are counted.
TEST(PruneRunFolders, RemovesTheOldestAndFinishesEarlierRemovals) {
  const std::wstring work = Join(FreshTestFolder(), L"work");
  MakeFolder(work);
  WriteBytes(Join(work, L"updater.lock"), "");
  MakeFolder(Join(work, L"partial"));
  MakeRun(work, L"20210305-080000-900", 100);
  MakeRun(work, L"20210305-080000-1000", 200);
  MakeRun(work, L"20210305-075959-4000", 300);
  MakeRun(work, L"20200101-000000-5.removing", 400);
  MakeRun(work, L"20000101-000000-7", 1);  // the current run, although its clock says otherwise

  PruneResult result = PruneRunFolders(work.c_str(), L"20000101-000000-7", 3);
  EXPECT_EQ(result.folders, 2u);
  EXPECT_EQ(result.bytes, 400u + 300u + 20u);
  EXPECT_EQ(Sorted(ListFolder(work)), Sorted({L"20000101-000000-7", L"20210305-080000-900", L"20210305-080000-1000",
                                              L"partial", L"updater.lock"}));

  result = PruneRunFolders(work.c_str(), L"20000101-000000-7", 1);
  EXPECT_EQ(result.folders, 2u);
  EXPECT_EQ(result.bytes, 100u + 200u + 20u);
  EXPECT_EQ(Sorted(ListFolder(work)), Sorted({L"20000101-000000-7", L"partial", L"updater.lock"}));

  result = PruneRunFolders(work.c_str(), L"20000101-000000-7", 1);
  EXPECT_EQ(result.folders, 0u);
  EXPECT_EQ(result.bytes, 0u);
}

// A file held open keeps its folder (renamed or as it was) without
// stopping the pruning of the others; once free, the next pruning removes
// it.
TEST(PruneRunFolders, AHeldFileKeepsItsFolderForLater) {
  const std::wstring work = Join(FreshTestFolder(), L"work");
  MakeFolder(work);
  MakeRun(work, L"20210305-080000-1", 100);
  MakeRun(work, L"20210305-080000-2", 200);
  MakeRun(work, L"20990101-000000-3", 1);
  {
    HeldFile held(Join(work, L"20210305-080000-1\\backup\\data.pak"), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(held.ok());
    PruneResult result = PruneRunFolders(work.c_str(), L"20990101-000000-3", 1);
    EXPECT_EQ(result.folders, 1u);
    std::wstring stays = Exists(Join(work, L"20210305-080000-1")) ? Join(work, L"20210305-080000-1")
                                                                   : Join(work, L"20210305-080000-1.removing");
    EXPECT_EQ(ReadBytes(Join(stays, L"backup\\data.pak")), Filler(100, 5));
    EXPECT_FALSE(Exists(Join(work, L"20210305-080000-2")));
  }
  PruneResult result = PruneRunFolders(work.c_str(), L"20990101-000000-3", 1);
  EXPECT_EQ(result.folders, 1u);
  EXPECT_EQ(ListFolder(work), std::vector<std::wstring>{L"20990101-000000-3"});
}

}  // namespace
