// Re-check, commit, rollback and final verification on real files: every
// run here is planned and staged from a package first, then committed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/commit.h"
#include "engine/staging.h"
#include "support/messages.h"
#include "unit/engine_steps.h"

namespace {

// A staged run whose rows are described by one letter each: K a current
// file, R a file to be replaced, A a file to be added. Row i is "f<i>.dat".
struct CommitRun {
  RunHarness h;
  Release release{h.package};
  std::string kinds;
  size_t staged_lines = 0;

  explicit CommitRun(const std::string& row_kinds) : kinds(row_kinds) {
    for (size_t i = 0; i < kinds.size(); ++i) {
      release.AddFile(Name(int(i)), NewBytes(int(i)));
      if (kinds[i] == 'K') WriteBytes(Target(int(i)), NewBytes(int(i)));
      if (kinds[i] == 'R') WriteBytes(Target(int(i)), OldBytes(int(i)));
    }
    static int published = 0;
    PublishManifest(release, h, L"manifest-" + std::to_wstring(published++) + L".ini");
    uint64_t total = 0;
    EXPECT_EQ(PlanRows(&total), 1);
    EXPECT_EQ(StageFiles(), 1);
    staged_lines = h.Log().size();
  }

  static std::string Name(int i) { return "f" + std::to_string(i) + ".dat"; }
  static std::string OldBytes(int i) { return "previous f" + std::to_string(i); }
  static std::string NewBytes(int i) { return "released f" + std::to_string(i) + " " + Filler(50 + i, unsigned(i)); }
  std::wstring Target(int i) const { return Join(h.install, Wide(Name(i))); }
  std::wstring Staged(int i) const { return Join(Join(h.run, L"new"), Wide(Name(i))); }
  std::wstring Backup(int i) const { return Join(Join(h.run, L"backup"), Wide(Name(i))); }
  int Rows() const { return int(kinds.size()); }

  // The install folder as the file checks found it.
  Tree Before() const {
    Tree tree;
    for (int i = 0; i < Rows(); ++i) {
      if (kinds[i] != 'A') tree[Name(i)] = kinds[i] == 'K' ? NewBytes(i) : OldBytes(i);
    }
    return tree;
  }
  // The install folder once every row is in place.
  Tree After() const {
    Tree tree;
    for (int i = 0; i < Rows(); ++i) tree[Name(i)] = NewBytes(i);
    return tree;
  }
  // new\ holding the staged files of the rows from `from` on.
  Tree StagedFrom(int from) const {
    Tree tree;
    for (int i = from; i < Rows(); ++i) {
      if (kinds[i] != 'K') tree[Name(i)] = NewBytes(i);
    }
    return tree;
  }
  Tree Install() const { return Snapshot(h.install); }
  Tree New() const { return Snapshot(Join(h.run, L"new")); }
  Tree Backups() const { return Snapshot(Join(h.run, L"backup")); }
  std::vector<std::string> Lines() const { return LinesFrom(h, staged_lines); }
};

// The end of a successful commit: every new file in place, new\ empty,
// the previous version of every replaced file in backup\, no status line
// of its own.
TEST(EngineCommit, ReplacesAddsAndKeepsTheBackups) {
  const struct {
    const char* what;
    const char* kinds;
  } cases[] = {{"two replaced, one added, one current", "RAKR"}, {"nothing to update", "KKK"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CommitRun run(c.kinds);
    EXPECT_EQ(RecheckInstalled(), 1);
    EXPECT_EQ(CommitFiles(), 1);
    EXPECT_EQ(VerifyInstalled(), 1);
    EXPECT_EQ(run.Lines(), std::vector<std::string>{});
    EXPECT_EQ(run.Install(), run.After());
    EXPECT_EQ(run.New(), Tree{});
    Tree backups;
    for (int i = 0; i < run.Rows(); ++i) {
      if (run.kinds[i] == 'R') backups[run.Name(i)] = run.OldBytes(i);
      EXPECT_EQ(file_table[i].applied, run.kinds[i] == 'K' ? 0 : 1) << "row " << i;
    }
    EXPECT_EQ(run.Backups(), backups);
  }
}

// Row 0 is current, row 1 is to be replaced, row 2 is to be added. Each
// fault happens between staging and the re-check; the re-check reports it
// and nothing is committed.
TEST(EngineRecheck, FailureLeavesTheStagedRunUntouched) {
  enum class Fault {
    kCurrentRewritten,
    kCurrentDeleted,
    kReplacedRewritten,
    kReplacedDeleted,
    kReplacedHeldByReader,
    kReplacedHeldByWriter,
    kFolderAtAdd,
    kFileAtAdd,
  };
  const struct {
    const char* what;
    Fault fault;
    const char* message;
  } cases[] = {
      {"current file rewritten, same size", Fault::kCurrentRewritten, kChanged},
      {"current file deleted", Fault::kCurrentDeleted, kChanged},
      {"file to replace rewritten, same size", Fault::kReplacedRewritten, kChanged},
      {"file to replace deleted", Fault::kReplacedDeleted, kChanged},
      {"file to replace open for reading elsewhere", Fault::kReplacedHeldByReader, kInUse},
      // A writer keeps the hashing out before the exclusive open is tried.
      {"file to replace open for writing elsewhere", Fault::kReplacedHeldByWriter, kChanged},
      {"folder where a file is to be added", Fault::kFolderAtAdd, kFolderChanged},
      {"file where a file is to be added", Fault::kFileAtAdd, kFolderChanged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CommitRun run("KRA");
    std::unique_ptr<HeldFile> held;
    switch (c.fault) {
      case Fault::kCurrentRewritten: WriteBytes(run.Target(0), "X" + run.NewBytes(0).substr(1)); break;
      case Fault::kCurrentDeleted: ASSERT_TRUE(DeleteFileW(run.Target(0).c_str())); break;
      case Fault::kReplacedRewritten: WriteBytes(run.Target(1), "X" + run.OldBytes(1).substr(1)); break;
      case Fault::kReplacedDeleted: ASSERT_TRUE(DeleteFileW(run.Target(1).c_str())); break;
      case Fault::kReplacedHeldByReader:
        held.reset(new HeldFile(run.Target(1), GENERIC_READ, FILE_SHARE_READ));
        break;
      case Fault::kReplacedHeldByWriter:
        held.reset(new HeldFile(run.Target(1), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
        break;
      case Fault::kFolderAtAdd: MakeFolder(run.Target(2)); break;
      case Fault::kFileAtAdd: WriteBytes(run.Target(2), "someone else's"); break;
    }
    if (held) ASSERT_TRUE(held->ok());
    Tree installed = run.Install();

    EXPECT_EQ(RecheckInstalled(), 0);
    EXPECT_EQ(run.Lines(), std::vector<std::string>{c.message});
    EXPECT_EQ(run.Install(), installed);
    EXPECT_EQ(run.New(), run.StagedFrom(0));
    EXPECT_EQ(run.Backups(), Tree{});
  }
}

// Row 1 is to be replaced, row 2 to be added; a staged file changes after
// staging verified it. The re-check finds it before anything is replaced:
// committed, it would have left a file that is neither old nor new.
TEST(EngineRecheck, AStagedFileThatChangedStopsTheRunBeforeAnythingIsReplaced) {
  enum class Fault { kRewritten, kCutShort, kDeleted, kFolder };
  const struct {
    const char* what;
    int row;
    Fault fault;
  } cases[] = {
      {"staged replacement rewritten, same size", 1, Fault::kRewritten},
      {"staged replacement cut short", 1, Fault::kCutShort},
      {"staged replacement deleted", 1, Fault::kDeleted},
      {"staged added file rewritten, same size", 2, Fault::kRewritten},
      {"staged added file replaced by a folder", 2, Fault::kFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CommitRun run("KRA");
    std::wstring staged = run.Staged(c.row);
    std::string bytes = run.NewBytes(c.row);
    switch (c.fault) {
      case Fault::kRewritten: WriteBytes(staged, "X" + bytes.substr(1)); break;
      case Fault::kCutShort: WriteBytes(staged, bytes.substr(0, bytes.size() - 1)); break;
      case Fault::kDeleted: ASSERT_TRUE(DeleteFileW(staged.c_str())); break;
      case Fault::kFolder:
        ASSERT_TRUE(DeleteFileW(staged.c_str()));
        MakeFolder(staged);
        break;
    }

    EXPECT_EQ(RecheckInstalled(), 0);
    EXPECT_EQ(run.Lines(), std::vector<std::string>{kFinalCheck});
    EXPECT_EQ(run.Install(), run.Before());
    EXPECT_EQ(run.Backups(), Tree{});
  }
}

// A current file is only ever read: a program reading it does not stop the
// run, unlike the same reader on a file to be replaced (above).
TEST(EngineRecheck, ACurrentFileOpenForReadingDoesNotStopTheRun) {
  CommitRun run("KRA");
  HeldFile reader(run.Target(0), GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(reader.ok());
  EXPECT_EQ(RecheckInstalled(), 1);
  EXPECT_EQ(CommitFiles(), 1);
  EXPECT_EQ(VerifyInstalled(), 1);
  EXPECT_EQ(run.Lines(), std::vector<std::string>{});
  EXPECT_EQ(run.Install(), run.After());
}

// A commit step fails after the re-check passed: a file to be replaced is
// opened by another program (ReplaceFileW fails), or a folder appears where
// a file is to be added (the move fails). Every earlier row is undone, the
// failed row and the later ones keep their staged files in new\.
TEST(EngineCommit, FailureRollsBackEveryEarlierRow) {
  const struct {
    const char* what;
    const char* kinds;
    int failing;
  } cases[] = {
      {"five rows, the fourth fails", "RAKRR", 3},
      {"the first row that needs an update fails", "KRA", 1},
      {"an add row fails", "RKAR", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CommitRun run(c.kinds);
    ASSERT_EQ(RecheckInstalled(), 1);
    std::unique_ptr<HeldFile> held;
    if (run.kinds[c.failing] == 'R') {
      held.reset(new HeldFile(run.Target(c.failing), GENERIC_READ, FILE_SHARE_READ));
      ASSERT_TRUE(held->ok());
    } else {
      MakeFolder(run.Target(c.failing));
    }

    EXPECT_EQ(CommitFiles(), 0);
    held.reset();
    EXPECT_EQ(run.Lines(), std::vector<std::string>{kRestored});
    EXPECT_EQ(run.Install(), run.Before());
    if (run.kinds[c.failing] == 'A') EXPECT_TRUE(IsFolder(run.Target(c.failing))) << "the folder in the way";
    EXPECT_EQ(run.New(), run.StagedFrom(c.failing));
    EXPECT_EQ(run.Backups(), Tree{});
    for (int i = 0; i < run.Rows(); ++i) {
      EXPECT_EQ(file_table[i].applied, i < c.failing && run.kinds[i] != 'K' ? 1 : 0) << "row " << i;
    }
  }
}

// Within one commit: the added row's staged file is read-only, so it is
// moved in but cannot be deleted again; row 2 fails. The rollback goes on
// past the failed deletion and still restores row 0.
TEST(EngineRollback, AnAddedFileThatCannotBeDeletedStaysAndTheWalkGoesOn) {
  CommitRun run("RAR");
  ASSERT_TRUE(SetFileAttributesW(run.Staged(1).c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(RecheckInstalled(), 1);
  HeldFile held(run.Target(2), GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(held.ok());

  EXPECT_EQ(CommitFiles(), 0);
  EXPECT_EQ(run.Lines(), std::vector<std::string>{kPartlyRestored});
  EXPECT_EQ(run.Install(),
            (Tree{{run.Name(0), run.OldBytes(0)}, {run.Name(1), run.NewBytes(1)}, {run.Name(2), run.OldBytes(2)}}));
  EXPECT_EQ(run.New(), run.StagedFrom(2));
  EXPECT_EQ(run.Backups(), Tree{});
}

// Rows 0 to 2 are committed, then another program opens one of them before
// row 3's failure is rolled back. A commit cannot be paused in-process, so
// the table is committed up to row 2 and RollBack is then called for row 3
// as the commit would call it.
TEST(EngineRollback, UndoStepsThatFailLeaveTheirFilesAndTheWalkGoesOn) {
  const struct {
    const char* what;
    int held_row;  // -1: none
    const char* message;
  } cases[] = {
      {"nothing held", -1, kRestored},
      {"the added file is open elsewhere", 1, kPartlyRestored},
      {"a replaced file is open elsewhere", 2, kPartlyRestored},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CommitRun run("RARR");
    ASSERT_EQ(RecheckInstalled(), 1);
    entry_count = 3;
    ASSERT_EQ(CommitFiles(), 1);
    entry_count = 4;
    std::unique_ptr<HeldFile> held;
    if (c.held_row >= 0) {
      held.reset(new HeldFile(run.Target(c.held_row), GENERIC_READ, FILE_SHARE_READ));
      ASSERT_TRUE(held->ok());
    }

    RollBack(3);
    held.reset();
    EXPECT_EQ(run.Lines(), std::vector<std::string>{c.message});
    Tree install = run.Before();
    Tree backups;
    if (c.held_row == 1) install[run.Name(1)] = run.NewBytes(1);
    if (c.held_row == 2) {
      install[run.Name(2)] = run.NewBytes(2);
      backups[run.Name(2)] = run.OldBytes(2);
    }
    EXPECT_EQ(run.Install(), install);
    EXPECT_EQ(run.Backups(), backups);
    EXPECT_EQ(run.New(), run.StagedFrom(3));
  }
}

// A replacement that failed halfway may have left the previous file at the
// backup name; RollBack puts it back before it walks the earlier rows. The
// state is set up by hand: row 0 committed, row 1's file moved to its
// backup name as such a failed replacement leaves it.
TEST(EngineRollback, TheFailedRowsOwnBackupComesBackFirst) {
  enum class Setup { kLeftAtBackup, kLeftAtBackupFolderInPlace, kAddRowWithFileAtBackupName };
  const struct {
    const char* what;
    const char* kinds;
    Setup setup;
    const char* message;
  } cases[] = {
      {"previous file left at the backup name", "RR", Setup::kLeftAtBackup, kRestored},
      {"previous file left at the backup name, a folder in its place", "RR", Setup::kLeftAtBackupFolderInPlace,
       kPartlyRestored},
      {"an add row has nothing of its own to undo", "RA", Setup::kAddRowWithFileAtBackupName, kRestored},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CommitRun run(c.kinds);
    ASSERT_EQ(RecheckInstalled(), 1);
    entry_count = 1;
    ASSERT_EQ(CommitFiles(), 1);
    entry_count = 2;
    if (c.setup == Setup::kAddRowWithFileAtBackupName) {
      WriteBytes(run.Backup(1), "not the add row's");
    } else {
      ASSERT_TRUE(MoveFileW(run.Target(1).c_str(), run.Backup(1).c_str()));
    }
    if (c.setup == Setup::kLeftAtBackupFolderInPlace) MakeFolder(run.Target(1));

    RollBack(1);
    EXPECT_EQ(run.Lines(), std::vector<std::string>{c.message});
    Tree install = run.Before();
    Tree backups;
    if (c.setup == Setup::kLeftAtBackupFolderInPlace) {
      install.erase(run.Name(1));
      backups[run.Name(1)] = run.OldBytes(1);
    }
    if (c.setup == Setup::kAddRowWithFileAtBackupName) backups[run.Name(1)] = "not the add row's";
    EXPECT_EQ(run.Install(), install) << "row 0 is undone in every case";
    EXPECT_EQ(run.Backups(), backups);
    EXPECT_EQ(run.New(), run.StagedFrom(1));
  }
}

// Row 0 current, row 1 replaced, row 2 added; after the commit one file no
// longer matches. The final check reports it and nothing is rolled back.
TEST(EngineFinalCheck, AFileThatNoLongerMatchesStopsWithoutRollback) {
  enum class Fault { kCurrentRewritten, kCurrentDeleted, kReplacedCutShort, kAddedBecameFolder };
  const struct {
    const char* what;
    Fault fault;
  } cases[] = {
      {"current file rewritten, same size", Fault::kCurrentRewritten},
      {"current file deleted", Fault::kCurrentDeleted},
      {"replaced file cut short", Fault::kReplacedCutShort},
      {"a folder instead of the added file", Fault::kAddedBecameFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CommitRun run("KRA");
    ASSERT_EQ(RecheckInstalled(), 1);
    ASSERT_EQ(CommitFiles(), 1);
    switch (c.fault) {
      case Fault::kCurrentRewritten: WriteBytes(run.Target(0), "X" + run.NewBytes(0).substr(1)); break;
      case Fault::kCurrentDeleted: ASSERT_TRUE(DeleteFileW(run.Target(0).c_str())); break;
      case Fault::kReplacedCutShort: WriteBytes(run.Target(1), run.NewBytes(1).substr(1)); break;
      case Fault::kAddedBecameFolder:
        ASSERT_TRUE(DeleteFileW(run.Target(2).c_str()));
        MakeFolder(run.Target(2));
        break;
    }
    Tree installed = run.Install();

    EXPECT_EQ(VerifyInstalled(), 0);
    EXPECT_EQ(run.Lines(), std::vector<std::string>{kFinalFailed});
    EXPECT_EQ(run.Install(), installed);
    EXPECT_EQ(run.New(), Tree{});
    EXPECT_EQ(run.Backups(), (Tree{{run.Name(1), run.OldBytes(1)}}));
  }
}

}  // namespace
