// Staging: whole files and patches fetched, verified and rebuilt into the
// run folder, the patch tool's check and its command line, and the bar.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/staging.h"
#include "support/sha256.h"
#include "support/messages.h"
#include "unit/engine_steps.h"

namespace {

std::string Fetching(const std::string& name) { return "파일 받는 중: " + name; }
std::string FetchingChanges(const std::string& name) { return "변경분 받는 중: " + name; }

std::vector<std::string> Positions(int from, int to) {
  std::vector<std::string> events;
  for (int i = from; i <= to; ++i) events.push_back("pos " + std::to_string(i));
  return events;
}

// A release in the harness's package folder, installed files to match and
// the table planned from it.
struct StagingRun {
  RunHarness h;
  Release release{h.package};
  size_t planned_lines = 0;

  void Current(const std::string& name, const std::string& bytes) {
    release.AddFile(name, bytes);
    WriteBytes(Join(h.install, Wide(name)), bytes);
  }
  // Fetched whole; old_bytes (when given) is the installed copy.
  void Whole(const std::string& name, const std::string& new_bytes, const std::string* old_bytes = nullptr) {
    release.AddFile(name, new_bytes);
    if (old_bytes != nullptr) WriteBytes(Join(h.install, Wide(name)), *old_bytes);
  }
  // Rebuilt from a patch against the installed copy; returns the patch.
  std::string Patched(const std::string& name, const std::string& old_bytes, const std::string& new_bytes) {
    int n = release.AddFile(name, new_bytes);
    release.AddPatch(n, old_bytes);
    WriteBytes(Join(h.install, Wide(name)), old_bytes);
    return MakeTestPatch(old_bytes, new_bytes);
  }
  void Plan() {
    static int published = 0;
    PublishManifest(release, h, L"manifest-" + std::to_wstring(published++) + L".ini");
    uint64_t total = 0;
    ASSERT_EQ(PlanRows(&total), 1);
    planned_lines = h.Log().size();
  }
  std::vector<std::string> StagingLines() const { return LinesFrom(h, planned_lines); }
  std::wstring PatchFile(int i) const { return Join(h.run, L"patch-" + std::to_wstring(i) + L".hdiff"); }
  std::wstring Record() const { return Join(h.root, L"tool-record.txt"); }
  Tree New() const { return Snapshot(Join(h.run, L"new")); }
};

// A file of 2000 bytes and a release of it with 30 bytes changed in the
// middle: the test tool's patch for it is far smaller than the file.
std::string OldBytes(unsigned variant) { return Filler(2000, variant); }
std::string NewBytes(unsigned variant) {
  std::string bytes = OldBytes(variant);
  bytes.replace(900, 30, Filler(30, variant + 100));
  return bytes;
}

// A folder named like the tool stands in the install folder: a run that
// looked at the tool would fail, so these runs show it never does.
TEST(EngineStaging, RowsThatNeedNothingStillMoveTheBar) {
  const struct {
    const char* what;
    int outdated;  // index of the one row to fetch, -1 for none
  } cases[] = {{"nothing to update", -1}, {"only the third row", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StagingRun run;
    const std::string old_bytes = "installed copy";
    for (int i = 0; i < 5; ++i) {
      std::string name = "r" + std::to_string(i) + ".dat";
      if (i == c.outdated) {
        run.Whole(name, Filler(300, unsigned(i)), &old_bytes);
      } else {
        run.Current(name, Filler(300, unsigned(i)));
      }
    }
    MakeFolder(Join(run.h.install, L"hpatchz.exe"));
    run.Plan();
    Tree installed = Snapshot(run.h.install);

    ProgressRecorder bar;
    EXPECT_EQ(StageFiles(), 1);
    EXPECT_EQ(bar.events, Positions(1, 5));
    if (c.outdated < 0) {
      EXPECT_EQ(run.StagingLines(), std::vector<std::string>{});
      EXPECT_EQ(run.New(), Tree{});
    } else {
      EXPECT_EQ(run.StagingLines(), std::vector<std::string>{Fetching("r2.dat")});
      EXPECT_EQ(run.New(), (Tree{{"r2.dat", Filler(300, 2)}}));
    }
    EXPECT_EQ(Snapshot(run.h.install), installed);
  }
}

// The only patch of the run belongs to [file.7]: its file is named by the
// row, not by a count of patches. The tool records its command line and
// the folder it was started in.
TEST(EngineStaging, PatchFileIsNamedByTheRowAndTheToolGetsItsCommandLine) {
  StagingRun run;
  for (int i = 0; i < 7; ++i) run.Current("r" + std::to_string(i) + ".dat", Filler(100, unsigned(i)));
  run.Patched("r7.dat", OldBytes(7), NewBytes(7));
  InstallPatchTool(run.h);
  run.Plan();
  Tree installed = Snapshot(run.h.install);
  ScopedEnv record(L"QUENFAR8_TEST_PATCH_RECORD", run.Record());

  ProgressRecorder bar;
  ASSERT_EQ(StageFiles(), 1);
  const std::string install = Utf8(run.h.install);
  const std::string command = "\"" + install + "\\hpatchz.exe\" -s-8m \"" + install + "\\r7.dat\" \"" +
                              Utf8(run.h.run) + "\\patch-7.hdiff\" \"" + Utf8(run.h.run) + "\\new\\r7.dat\"";
  EXPECT_EQ(CrLfLines(ReadBytes(run.Record())), (std::vector<std::string>{command, install}));
  EXPECT_EQ(run.StagingLines(), std::vector<std::string>{FetchingChanges("r7.dat")});
  EXPECT_EQ(bar.events, Positions(1, 8));
  EXPECT_EQ(run.New(), (Tree{{"r7.dat", NewBytes(7)}}));
  EXPECT_FALSE(Exists(run.PatchFile(7))) << "the patch file stays after a good rebuild";
  EXPECT_EQ(Snapshot(run.h.install), installed);
}

TEST(EnginePatchTool, OnlyThePinnedBuildPasses) {
  RunHarness h;
  const std::string tool = ReadBytes(TestPatchTool());
  ASSERT_EQ(std::wstring(PATCH_TOOL_SHA256), Sha256Hex(tool)) << "the test build pins the test tool";

  enum class Make { kTool, kNothing, kFolder, kOtherProgram, kLonger, kHeldByWriter, kLinkToFolder };
  const struct {
    const char* what;
    Make make;
    int accepted;
  } cases[] = {
      {"the pinned build", Make::kTool, 1},
      {"nothing there", Make::kNothing, 0},
      {"a folder", Make::kFolder, 0},
      {"another program", Make::kOtherProgram, 0},
      {"the pinned build with one byte more", Make::kLonger, 0},
      {"the pinned build, held by a writer", Make::kHeldByWriter, 0},
      {"a link to a folder", Make::kLinkToFolder, 0},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring folder = Join(h.root, L"case-" + std::to_wstring(index++));
    MakeFolder(folder);
    std::wstring path = Join(folder, L"hpatchz.exe");
    std::unique_ptr<HeldFile> held;
    switch (c.make) {
      case Make::kTool: WriteBytes(path, tool); break;
      case Make::kNothing: break;
      case Make::kFolder: MakeFolder(path); break;
      case Make::kOtherProgram: WriteBytes(path, ReadBytes(FakeGameExe())); break;
      case Make::kLonger: WriteBytes(path, tool + "\n"); break;
      case Make::kHeldByWriter:
        WriteBytes(path, tool);
        held.reset(new HeldFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
        ASSERT_TRUE(held->ok());
        break;
      case Make::kLinkToFolder:
        MakeFolder(Join(folder, L"target"));
        ASSERT_TRUE(MakeUnixLink(Join(folder, L"target"), path));
        break;
    }
    EXPECT_EQ(CheckPatchTool(path.c_str()), c.accepted);
  }
  EXPECT_EQ(h.Log(), std::vector<std::string>{}) << "the tool check reports nothing";
}

// RunPatchTool on its own: it does not look at the tool's digest, it starts
// what it is given and judges the exit code.
TEST(EnginePatchTool, RunReportsAToolThatCannotStartOrFails) {
  const std::string old_bytes = OldBytes(1);
  const std::string new_bytes = NewBytes(1);
  enum class Tool { kGood, kMissing, kFolder };
  const struct {
    const char* what;
    Tool tool;
    const wchar_t* mode;
    bool patch_for_other_base;
    int ok;
    const char* message;  // nullptr: none
  } cases[] = {
      {"a tool that rebuilds", Tool::kGood, L"", false, 1, nullptr},
      {"no program at the tool path", Tool::kMissing, L"", false, 0, kToolNotStarted},
      {"a folder at the tool path", Tool::kFolder, L"", false, 0, kToolNotStarted},
      {"a tool that exits with 7", Tool::kGood, L"fail", false, 0, kRebuildFailed},
      {"a patch for another base", Tool::kGood, L"", true, 0, kRebuildFailed},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunHarness h;
    std::wstring tool = Join(h.install, L"hpatchz.exe");
    if (c.tool == Tool::kGood) InstallPatchTool(h);
    if (c.tool == Tool::kFolder) MakeFolder(tool);
    std::wstring name = L"f" + std::to_wstring(index++) + L".dat";
    FileEntry& row = file_table[0];
    wcscpy(row.name, name.c_str());
    wcscpy(row.target_path, Join(h.install, name).c_str());
    wcscpy(row.new_path, Join(Join(h.run, L"new"), name).c_str());
    WriteBytes(row.target_path, old_bytes);
    std::wstring patch = Join(h.run, L"patch-0.hdiff");
    WriteBytes(patch, MakeTestPatch(c.patch_for_other_base ? Filler(1999, 9) : old_bytes, new_bytes));
    ScopedEnv mode(L"QUENFAR8_TEST_PATCH_MODE", c.mode);

    EXPECT_EQ(RunPatchTool(tool.c_str(), &row, patch.c_str()), c.ok);
    EXPECT_EQ(h.Log(), c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    EXPECT_EQ(ReadBytes(row.new_path), c.ok ? new_bytes : std::string("<missing>"));
    EXPECT_EQ(ReadBytes(row.target_path), old_bytes);
  }
}

// The tool is checked only after the patch was fetched and verified; the
// verified patch file stays in the run folder.
TEST(EngineStaging, BadToolStopsAfterThePatchWasFetchedAndVerified) {
  enum class Tool { kMissing, kFolder, kOtherProgram };
  const struct {
    const char* what;
    Tool tool;
  } cases[] = {{"no hpatchz.exe", Tool::kMissing},
               {"a folder named hpatchz.exe", Tool::kFolder},
               {"another program named hpatchz.exe", Tool::kOtherProgram}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StagingRun run;
    const std::string a_old = "old a";
    run.Whole("a.dat", "new a", &a_old);
    std::string patch = run.Patched("b.dat", OldBytes(2), NewBytes(2));
    std::wstring tool = Join(run.h.install, L"hpatchz.exe");
    if (c.tool == Tool::kFolder) MakeFolder(tool);
    if (c.tool == Tool::kOtherProgram) ASSERT_TRUE(CopyFileW(FakeGameExe().c_str(), tool.c_str(), FALSE));
    run.Plan();
    Tree installed = Snapshot(run.h.install);
    ScopedEnv record(L"QUENFAR8_TEST_PATCH_RECORD", run.Record());

    ProgressRecorder bar;
    EXPECT_EQ(StageFiles(), 0);
    EXPECT_EQ(run.StagingLines(),
              (std::vector<std::string>{Fetching("a.dat"), FetchingChanges("b.dat"), kBadTool}));
    EXPECT_EQ(bar.events, Positions(1, 1));
    EXPECT_EQ(ReadBytes(run.PatchFile(1)), patch);
    EXPECT_EQ(run.New(), (Tree{{"a.dat", "new a"}}));
    EXPECT_FALSE(Exists(run.Record())) << "a tool was started";
    EXPECT_EQ(Snapshot(run.h.install), installed);
  }
}

// The tool is hashed anew for every patch row. A run cannot be paused
// between two rows in-process, so the table is staged in two calls: the
// first stages row 0 with the pinned tool, then another program takes the
// tool's place, and the second call, with row 0 already done, reaches row 1.
TEST(EngineStaging, ToolIsCheckedAgainForEveryPatchRow) {
  StagingRun run;
  run.Patched("a.dat", OldBytes(1), NewBytes(1));
  std::string patch_b = run.Patched("b.dat", OldBytes(2), NewBytes(2));
  InstallPatchTool(run.h);
  run.Plan();
  ScopedEnv record(L"QUENFAR8_TEST_PATCH_RECORD", run.Record());

  entry_count = 1;
  ASSERT_EQ(StageFiles(), 1);
  ASSERT_EQ(run.New(), (Tree{{"a.dat", NewBytes(1)}}));
  ASSERT_TRUE(CopyFileW(FakeGameExe().c_str(), Join(run.h.install, L"hpatchz.exe").c_str(), FALSE));
  Tree installed = Snapshot(run.h.install);
  size_t before = run.h.Log().size();

  file_table[0].needs_update = 0;
  entry_count = 2;
  EXPECT_EQ(StageFiles(), 0);
  EXPECT_EQ(LinesFrom(run.h, before), (std::vector<std::string>{FetchingChanges("b.dat"), kBadTool}));
  EXPECT_EQ(CrLfLines(ReadBytes(run.Record())).size(), 2u) << "the tool ran once, for row 0 only";
  EXPECT_EQ(ReadBytes(run.PatchFile(1)), patch_b);
  EXPECT_EQ(run.New(), (Tree{{"a.dat", NewBytes(1)}}));
  EXPECT_EQ(Snapshot(run.h.install), installed);
}

// Whatever the tool does wrong, the run ends before the install folder is
// touched and the patch file stays. The last two cases change the installed
// copy after it was hashed, as a game still running might.
TEST(EngineStaging, ToolThatFailsOrLiesKeepsThePatchFile) {
  enum class Change { kNone, kGrown, kChangedInPlace };
  const struct {
    const char* what;
    const wchar_t* mode;
    Change change;
    const char* message;
    bool leaves_output;
  } cases[] = {
      {"tool exits with 7", L"fail", Change::kNone, kRebuildFailed, false},
      {"tool writes a wrong file", L"lie", Change::kNone, kFinalCheck, true},
      {"tool writes nothing and exits with 0", L"silent", Change::kNone, kFinalCheck, false},
      {"installed copy grew after its check", L"", Change::kGrown, kRebuildFailed, false},
      {"installed copy changed in place after its check", L"", Change::kChangedInPlace, kFinalCheck, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StagingRun run;
    const std::string a_old = "old a";
    run.Whole("a.dat", "new a", &a_old);
    std::string patch = run.Patched("b.dat", OldBytes(2), NewBytes(2));
    InstallPatchTool(run.h);
    run.Plan();
    std::wstring b_path = Join(run.h.install, L"b.dat");
    if (c.change == Change::kGrown) WriteBytes(b_path, OldBytes(2) + "!");
    if (c.change == Change::kChangedInPlace) WriteBytes(b_path, "!" + OldBytes(2).substr(1));
    Tree installed = Snapshot(run.h.install);
    ScopedEnv mode(L"QUENFAR8_TEST_PATCH_MODE", c.mode);

    ProgressRecorder bar;
    EXPECT_EQ(StageFiles(), 0);
    EXPECT_EQ(run.StagingLines(),
              (std::vector<std::string>{Fetching("a.dat"), FetchingChanges("b.dat"), c.message}));
    EXPECT_EQ(bar.events, Positions(1, 1));
    EXPECT_EQ(ReadBytes(run.PatchFile(1)), patch);
    Tree staged = run.New();
    EXPECT_EQ(staged.count("a.dat"), 1u);
    EXPECT_EQ(staged.count("b.dat"), c.leaves_output ? 1u : 0u);
    if (c.leaves_output) EXPECT_NE(staged["b.dat"], NewBytes(2));
    EXPECT_EQ(Snapshot(run.h.install), installed);
  }
}

// Row 1 cannot be fetched or does not match; row 0 stays staged, row 2 is
// never reached, and the tool is never started.
TEST(EngineStaging, FetchFailuresStopAtTheirRow) {
  enum class Fault { kMissing, kOtherSize, kOtherBytes };
  const struct {
    const char* what;
    Fault fault;
    const char* fetcher_line;  // nullptr: the fetch itself succeeds
  } faults[] = {
      {"not in the package", Fault::kMissing, kNoPackageFile},
      {"another size in the package", Fault::kOtherSize, kPackageSize},
      {"same size, other bytes", Fault::kOtherBytes, nullptr},
  };
  for (bool via_patch : {false, true}) {
    for (const auto& f : faults) {
      SCOPED_TRACE(std::string(via_patch ? "patch row: " : "whole-file row: ") + f.what);
      StagingRun run;
      const std::string old_a = "old a";
      run.Whole("a.dat", "new a", &old_a);
      std::string remote;
      std::string fetched;
      if (via_patch) {
        fetched = run.Patched("b.dat", OldBytes(2), NewBytes(2));
        remote = "patches/1-0.qpatch";
      } else {
        const std::string old_b = "old b";
        run.Whole("b.dat", NewBytes(2), &old_b);
        fetched = NewBytes(2);
        remote = "files/b.dat";
      }
      const std::string old_c = "old c";
      run.Whole("c.dat", "new c", &old_c);
      InstallPatchTool(run.h);
      run.Plan();
      std::wstring package_file = Join(run.h.package, Wide(remote));
      for (wchar_t& ch : package_file) {
        if (ch == L'/') ch = L'\\';
      }
      std::string wrong = fetched;
      wrong[wrong.size() / 2] ^= 0x55;
      if (f.fault == Fault::kMissing) ASSERT_TRUE(DeleteFileW(package_file.c_str()));
      if (f.fault == Fault::kOtherSize) WriteBytes(package_file, fetched + "x");
      if (f.fault == Fault::kOtherBytes) WriteBytes(package_file, wrong);
      Tree installed = Snapshot(run.h.install);
      ScopedEnv record(L"QUENFAR8_TEST_PATCH_RECORD", run.Record());

      ProgressRecorder bar;
      EXPECT_EQ(StageFiles(), 0);
      std::vector<std::string> expected = {Fetching("a.dat"), via_patch ? FetchingChanges("b.dat") : Fetching("b.dat")};
      if (f.fetcher_line != nullptr) expected.push_back(f.fetcher_line);
      expected.push_back(kDownloadCheck);
      EXPECT_EQ(run.StagingLines(), expected);
      EXPECT_EQ(bar.events, Positions(1, 1));

      Tree staged = {{"a.dat", "new a"}};
      if (!via_patch && f.fault == Fault::kOtherBytes) staged["b.dat"] = wrong;
      EXPECT_EQ(run.New(), staged);
      EXPECT_EQ(Exists(run.PatchFile(1)), via_patch && f.fault == Fault::kOtherBytes);
      if (via_patch && f.fault == Fault::kOtherBytes) EXPECT_EQ(ReadBytes(run.PatchFile(1)), wrong);
      EXPECT_FALSE(Exists(run.Record())) << "the tool was started";
      EXPECT_EQ(Snapshot(run.h.install), installed);
    }
  }
}

// A listed size of 0 is fetched as a size the fetcher does not know; the
// download check then takes only an empty file.
TEST(EngineStaging, EmptyWholeFile) {
  const struct {
    const char* what;
    std::string in_package;
    int ok;
  } cases[] = {{"empty in the package", "", 1}, {"five bytes in the package", "12345", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StagingRun run;
    run.Whole("empty.dat", "");
    run.release.Put("files/empty.dat", c.in_package);
    run.Plan();
    ASSERT_EQ(file_table[0].source_size, 0u);

    ProgressRecorder bar;
    EXPECT_EQ(StageFiles(), c.ok);
    std::vector<std::string> expected = {Fetching("empty.dat")};
    if (!c.ok) expected.push_back(kDownloadCheck);
    EXPECT_EQ(run.StagingLines(), expected);
    EXPECT_EQ(bar.events, c.ok ? Positions(1, 1) : Positions(1, 0));
    EXPECT_EQ(run.New(), (Tree{{"empty.dat", c.in_package}}));
    EXPECT_EQ(Snapshot(run.h.install), Tree{});
  }
}

}  // namespace
