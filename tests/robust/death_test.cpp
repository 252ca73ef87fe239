// The updater ended at every change point of a run: every create, write,
// flush, copy, move, replace, delete and folder creation it makes. After
// each death the client must be whole (every file old or new, nothing lost,
// nothing else touched, the lock free) and the next run must finish the
// job. The test build ends itself at QUENFAR8_TEST_DIE_AT and records every
// point at QUENFAR8_TEST_CHANGE_LOG; an uninterrupted run first tells how
// many points there are.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "robust/update_bench.h"
#include "support/files.h"
#include "support/messages.h"

namespace {

// base with a few bytes changed in the middle and a tail added: what a
// patch makes of it.
std::string Revised(const std::string& base, const std::string& tail) {
  std::string revised = base;
  revised.replace(base.size() / 2, 5, "PATCH");
  return revised + tail;
}

// A release mixing every kind of row, interleaved.
std::vector<ReleaseFile> MixedRelease() {
  std::string data = Filler(6000, 1), music = Filler(8000, 4);
  return {
      {"Quenfar8.exe", Row::kCurrent, "the game, unchanged", "the game, unchanged"},
      {"whole-a.pak", Row::kWhole, "whole a, old release", "whole a, new release, a little longer"},
      {"data.pak", Row::kPatched, data, Revised(data, "data tail")},
      {"added-a.txt", Row::kAdded, "", "a file the old client did not have"},
      {"readme.txt", Row::kCurrent, "read me", "read me"},
      {"whole-b.pak", Row::kWhole, Filler(5000, 2), Filler(7000, 3)},
      {"music.ogg", Row::kPatched, music, Revised(music, "music tail")},
      {"added-b.dat", Row::kAdded, "", Filler(3000, 5)},
  };
}

// held.pak's staged file is held open by another program (an antivirus
// scanning new files, say) from the patch tool's run to the run's end, so
// that its replacement fails after whole-a.pak has been replaced.
std::vector<ReleaseFile> HeldRelease() {
  std::string data = Filler(6000, 1);
  return {
      {"Quenfar8.exe", Row::kCurrent, "the game, unchanged", "the game, unchanged"},
      {"whole-a.pak", Row::kWhole, "whole a, old release", "whole a, new release, a little longer"},
      {"held.pak", Row::kWhole, "held, old release", "held, new release"},
      {"data.pak", Row::kPatched, data, Revised(data, "data tail")},
      {"added-a.txt", Row::kAdded, "", "a file the old client did not have"},
  };
}

std::shared_ptr<void> HoldStagedFile(const std::wstring& run_folder) {
  std::shared_ptr<HeldFile> held(
      new HeldFile(Join(Join(run_folder, L"new"), L"held.pak"), GENERIC_READ, FILE_SHARE_READ));
  EXPECT_TRUE(held->ok()) << "the staged held.pak could not be opened";
  return held;
}

// data.pak's patch tool dies half-way through writing the new file.
std::vector<ReleaseFile> DyingToolRelease() {
  std::string data = Filler(6000, 1);
  return {
      {"Quenfar8.exe", Row::kCurrent, "the game, unchanged", "the game, unchanged"},
      {"whole-a.pak", Row::kWhole, "whole a, old release", "whole a, new release, a little longer"},
      {"data.pak", Row::kPatched, data, Revised(data, "data tail")},
      {"added-a.txt", Row::kAdded, "", "a file the old client did not have"},
  };
}

// A small release for the pruning runs: most of their points are the
// removal of the earlier run folders.
std::vector<ReleaseFile> PruningRelease() {
  return {
      {"Quenfar8.exe", Row::kCurrent, "the game, unchanged", "the game, unchanged"},
      {"whole-a.pak", Row::kWhole, "whole a, old release", "whole a, new release, a little longer"},
  };
}

// How the uninterrupted run of an update ends.
struct Ending {
  DWORD exit_code;
  const char* last_line;
  bool at_release;  // every file at the release; otherwise every file as before
};

// Every point, or every stride-th: the runs over the feed take about twice
// as long as those from a package (a TLS handshake per file), so the
// regular suite takes every fourth of their points, and
// QUENFAR8_ROBUST_ALL_POINTS=1 takes them all.
int FeedStride() {
  const char* all = getenv("QUENFAR8_ROBUST_ALL_POINTS");
  return all != nullptr && std::string(all) == "1" ? 1 : 4;
}

// The runs from a package take every point, unless
// QUENFAR8_ROBUST_PACKAGE_STRIDE asks for every n-th (the emulated machine
// of the shipped 32-bit lane takes a share of them, about ten times slower).
int PackageStride() {
  const char* stride = getenv("QUENFAR8_ROBUST_PACKAGE_STRIDE");
  int n = stride != nullptr ? atoi(stride) : 1;
  return n >= 1 ? n : 1;
}

// Runs the update once without interruption to learn its change points,
// then ends it at every stride-th point from the first (of this part of
// them: part p of parts takes the p-th share) and checks the client after
// each death and after the next run.
void DieAtEveryPoint(const UpdateBench& bench, const RunSettings& base, Ending ending, int stride = 1,
                     int part = 0, int parts = 1) {
  std::unique_ptr<InstallFolder> reference_client = bench.NewClient(L"reference");
  RunRecord reference = bench.Run(*reference_client, base);
  ASSERT_TRUE(reference.ended);
  ASSERT_EQ(reference.exit_code, ending.exit_code);
  ASSERT_FALSE(reference.log.empty());
  EXPECT_EQ(reference.log.back(), ending.last_line);
  if (base.at_pause) EXPECT_TRUE(reference.paused) << "the run never reached its patch tool";
  StateTally end;
  bench.ExpectNeverBroken(*reference_client, &end);
  EXPECT_EQ(ending.at_release ? end.all_new : end.all_old, 1) << end.Text();
  bench.ExpectConverges(*reference_client, &reference);
  const size_t total = reference.points.size();
  ASSERT_GT(total, 0u) << "the run recorded no change point";

  const testing::TestResult* result = testing::UnitTest::GetInstance()->current_test_info()->result();
  const size_t first = total * part / parts + 1, last = total * (part + 1) / parts;
  int died = 0, passed = 0;
  StateTally tally;
  for (size_t n = first; n <= last; ++n) {
    if ((n - 1) % size_t(stride) != 0) continue;
    SCOPED_TRACE("death point " + std::to_string(n) + " of " + std::to_string(total) + ": " +
                 reference.points[n - 1]);
    const int failures_before = result->total_part_count();
    std::unique_ptr<InstallFolder> client = bench.NewClient(L"point-" + std::to_wstring(n));
    RunSettings settings = base;
    settings.die_at = unsigned(n);
    RunRecord run = bench.Run(*client, settings);
    EXPECT_EQ(run.exit_code, kDiedAtPoint) << "the run did not end at its point; its log ends with: "
                                           << (run.log.empty() ? std::string("(no log)") : run.log.back())
                                           << "; the client stays in " << Utf8(client->dir());
    if (run.exit_code == kDiedAtPoint) ++died;
    // The same run up to the point: the death hit the call it was meant to.
    EXPECT_EQ(run.points, std::vector<std::string>(reference.points.begin(), reference.points.begin() + n));
    bench.ExpectNeverBroken(*client, &tally);
    bench.ExpectConverges(*client, &run);
    if (result->total_part_count() == failures_before) {
      ++passed;
      RemoveTree(client->dir());  // a failing point's folder stays for a look
    }
  }
  printf("[death points] %s: points %zu to %zu of %zu, every %d; ended there: %d; passed: %d; states after "
         "death: %s\n",
         testing::UnitTest::GetInstance()->current_test_info()->name(), first, last, total, stride, died, passed,
         tally.Text().c_str());
  fflush(stdout);
}

const Ending kSucceeds{0, kReady, true};
const Ending kRollsBack{1, kRestored, false};
const Ending kToolFails{1, kRebuildFailed, false};

RunSettings HoldingSettings() {
  RunSettings settings;
  settings.at_pause = HoldStagedFile;
  return settings;
}

RunSettings DyingToolSettings() {
  RunSettings settings;
  settings.patch_mode = L"die";
  return settings;
}

TEST(DieAtEveryPoint, MixedReleaseFromThePackage) {
  UpdateBench bench(MixedRelease(), Source::kPackage);
  DieAtEveryPoint(bench, RunSettings(), kSucceeds, PackageStride());
}

TEST(DieAtEveryPoint, MixedReleaseFromTheFeedFirstHalf) {
  UpdateBench bench(MixedRelease(), Source::kFeed);
  DieAtEveryPoint(bench, RunSettings(), kSucceeds, FeedStride(), 0, 2);
}

TEST(DieAtEveryPoint, MixedReleaseFromTheFeedSecondHalf) {
  UpdateBench bench(MixedRelease(), Source::kFeed);
  DieAtEveryPoint(bench, RunSettings(), kSucceeds, FeedStride(), 1, 2);
}

// The same over the feed with network=resilient: the partial store's
// records and entries, and the moves out of it, are points too.
TEST(DieAtEveryPoint, MixedReleaseFromTheFeedResilientFirstHalf) {
  UpdateBench bench(MixedRelease(), Source::kResilientFeed);
  DieAtEveryPoint(bench, RunSettings(), kSucceeds, FeedStride(), 0, 2);
}

TEST(DieAtEveryPoint, MixedReleaseFromTheFeedResilientSecondHalf) {
  UpdateBench bench(MixedRelease(), Source::kResilientFeed);
  DieAtEveryPoint(bench, RunSettings(), kSucceeds, FeedStride(), 1, 2);
}

TEST(DieAtEveryPoint, CommitFailingAtAMiddleRowFromThePackage) {
  UpdateBench bench(HeldRelease(), Source::kPackage);
  DieAtEveryPoint(bench, HoldingSettings(), kRollsBack);
}

TEST(DieAtEveryPoint, CommitFailingAtAMiddleRowFromTheFeed) {
  UpdateBench bench(HeldRelease(), Source::kFeed);
  DieAtEveryPoint(bench, HoldingSettings(), kRollsBack, FeedStride());
}

TEST(DieAtEveryPoint, PatchToolDyingHalfWayFromThePackage) {
  UpdateBench bench(DyingToolRelease(), Source::kPackage);
  DieAtEveryPoint(bench, DyingToolSettings(), kToolFails);
}

TEST(DieAtEveryPoint, PatchToolDyingHalfWayFromTheFeed) {
  UpdateBench bench(DyingToolRelease(), Source::kFeed);
  DieAtEveryPoint(bench, DyingToolSettings(), kToolFails, FeedStride());
}

// With keep_runs=1 a good run ends by removing the two earlier run folders
// of the client (renamed first, then emptied and removed): ended at any
// point of that, the client is whole, and the next run finishes the
// removal and keeps its own folder alone.
TEST(DieAtEveryPoint, PruningEarlierRunFoldersFromThePackage) {
  UpdateBench bench(PruningRelease(), Source::kPackage);
  bench.KeepRuns(1);
  DieAtEveryPoint(bench, RunSettings(), kSucceeds);
}

// The patch tool killed while it writes, reporting a failure (as a process
// ended by another program usually does) or exit code 0 (as wine reports a
// process killed by a signal): either way the half-written file stays in
// new\, the client keeps its old files, and the next run finishes the job.
TEST(PatchToolKilled, HalfWayWithEitherExitCode) {
  const struct {
    const wchar_t* mode;
    const char* message;
  } cases[] = {{L"die", kRebuildFailed}, {L"die-exit-0", kFinalCheck}};
  UpdateBench bench(DyingToolRelease(), Source::kPackage);
  const ReleaseFile& data = bench.files()[2];
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.mode));
    std::unique_ptr<InstallFolder> client = bench.NewClient(c.mode);
    RunSettings settings;
    settings.patch_mode = c.mode;
    RunRecord run = bench.Run(*client, settings);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_TRUE(!run.log.empty() && run.log.back() == c.message);
    EXPECT_EQ(ReadBytes(Join(Join(run.run_folder, L"new"), Wide(data.name))),
              data.new_bytes.substr(0, data.new_bytes.size() / 2));
    StateTally end;
    bench.ExpectNeverBroken(*client, &end);
    EXPECT_EQ(end.all_old, 1) << end.Text();
    bench.ExpectConverges(*client, &run);
  }
}

}  // namespace
