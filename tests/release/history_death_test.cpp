// prune and rollback ended at every change point they make (every folder
// made or removed, file created, written, flushed, moved or deleted): the
// test build of the release tool ends itself at QUENFAR8_TEST_DIE_AT and
// records every point at QUENFAR8_TEST_CHANGE_LOG. After each death the
// live manifest must be whole and every blob it names (and, for prune,
// every blob a kept release names) present with its bytes; the same
// command run again must end as an uninterrupted run ends.
#include <gtest/gtest.h>

#include <stdio.h>

#include <map>

#include "tests/release/history.h"

#if !defined(QF8_TEST_RELEASE_TOOL)
#error "the build must name the test build of the release tool"
#endif

namespace {

// The exit code of a test build that ended itself at its change point.
constexpr DWORD kDiedAtPoint = 86;

std::wstring TestReleaseToolExe() { return WindowsPath(QF8_TEST_RELEASE_TOOL); }

// Every file below from, copied to the same place below to.
void CopyTree(const std::wstring& from, const std::wstring& to) {
  MakeFolder(to);
  for (const std::wstring& relative : ListTree(from)) {
    for (size_t at = relative.find(L'\\'); at != std::wstring::npos; at = relative.find(L'\\', at + 1)) {
      MakeFolder(Join(to, relative.substr(0, at)));
    }
    ASSERT_TRUE(CopyFileW(Join(from, relative).c_str(), Join(to, relative).c_str(), TRUE)) << Utf8(relative);
  }
}

// Every file below a feed folder with its bytes, without the work folders
// that killed runs leave (their own process ids name them).
std::map<std::string, std::string> FeedBytes(const std::wstring& feed) {
  std::map<std::string, std::string> tree;
  for (const std::wstring& relative : ListTree(feed)) {
    if (relative.compare(0, 15, L".quenfar8-pack-") == 0) continue;
    tree[Utf8(relative)] = ReadBytes(Join(feed, relative));
  }
  return tree;
}

ToolRun RunTestTool(const std::wstring& command, const std::wstring& feed, const std::wstring& more) {
  return RunConsoleProgram(TestReleaseToolExe(), command + L" " + Quoted(feed) + L" " + more);
}

// One command to end at every point: its arguments after the feed, and the
// history entries whose blobs must survive any death besides the live
// manifest's.
struct Interrupted {
  const wchar_t* command;
  const wchar_t* more;
  std::vector<int> kept_entries;
};

void DieAtEveryPoint(const std::wstring& root, const std::wstring& pristine, const Interrupted& op) {
  const std::string manifest_before = ReadBytes(Join(pristine, L"manifest.ini"));
  std::wstring records = Join(root, L"records");
  MakeFolder(records);

  // The uninterrupted run: its points and its end.
  std::wstring reference = Join(root, L"reference");
  CopyTree(pristine, reference);
  std::wstring change_log = Join(records, L"reference.log");
  ToolRun whole;
  {
    ScopedEnv log(L"QUENFAR8_TEST_CHANGE_LOG", change_log);
    whole = RunTestTool(op.command, reference, op.more);
  }
  ASSERT_EQ(whole.exit_code, 0u) << Printed(whole);
  const std::vector<std::string> points = CrLfLines(ReadBytes(change_log));
  ASSERT_GT(points.size(), 0u) << "the run recorded no change point";
  const std::map<std::string, std::string> end = FeedBytes(reference);
  const std::string manifest_after = ReadBytes(Join(reference, L"manifest.ini"));

  const testing::TestResult* result = testing::UnitTest::GetInstance()->current_test_info()->result();
  int died = 0, passed = 0, old_manifest = 0;
  for (size_t n = 1; n <= points.size(); ++n) {
    SCOPED_TRACE("death point " + std::to_string(n) + " of " + std::to_string(points.size()) + ": " +
                 points[n - 1]);
    const int failures_before = result->total_part_count();
    std::wstring feed = Join(root, L"point-" + std::to_wstring(n));
    CopyTree(pristine, feed);
    ToolRun run;
    {
      ScopedEnv die(L"QUENFAR8_TEST_DIE_AT", std::to_wstring(n));
      run = RunTestTool(op.command, feed, op.more);
    }
    EXPECT_EQ(run.exit_code, kDiedAtPoint) << "the run did not end at its point\n" << Printed(run);
    if (run.exit_code == kDiedAtPoint) ++died;
    // The live manifest is one whole manifest, old or new, and everything
    // it names is there with its bytes; so is every kept release's.
    std::string live = ReadBytes(Join(feed, L"manifest.ini"));
    EXPECT_TRUE(live == manifest_before || live == manifest_after);
    if (live == manifest_before) ++old_manifest;
    EXPECT_EQ(BlobFaults(feed, live), "");
    for (int entry : op.kept_entries) EXPECT_EQ(BlobFaults(feed, ReadBytes(HistoryEntry(feed, entry))), "") << entry;
    // The same command again ends where the uninterrupted run ended.
    ToolRun again = RunTestTool(op.command, feed, op.more);
    EXPECT_EQ(again.exit_code, 0u) << Printed(again);
    EXPECT_TRUE(FeedBytes(feed) == end);
    if (result->total_part_count() == failures_before) {
      ++passed;
      RemoveTree(feed);  // a failing point's feed stays for a look
    }
  }
  printf("[death points] %s: %zu points; ended there: %d; passed: %d; manifest still the old one after %d\n",
         testing::UnitTest::GetInstance()->current_test_info()->name(), points.size(), died, passed, old_manifest);
  fflush(stdout);
}

// Three releases with a history, and a work folder a killed pack left.
std::wstring PristineFeed(const std::wstring& root) {
  std::wstring feed = Join(root, L"pristine");
  std::wstring clients = Join(root, L"clients");
  MakeFolder(clients);
  ThreeReleases three(clients, feed);
  EXPECT_TRUE(three.Packed()) << three.Printed();
  MakeFolder(Join(feed, L".quenfar8-pack-4242"));
  WriteBytes(Join(feed, L".quenfar8-pack-4242\\file-0"), "half a copy");
  return feed;
}

TEST(HistoryDeath, PruneEndedAtEveryPoint) {
  std::wstring root = FreshTestFolder();
  std::wstring pristine = PristineFeed(root);
  ASSERT_FALSE(HasFailure());
  DieAtEveryPoint(root, pristine, {L"prune", L"--keep 1", {3}});
}

TEST(HistoryDeath, RollbackEndedAtEveryPoint) {
  std::wstring root = FreshTestFolder();
  std::wstring pristine = PristineFeed(root);
  ASSERT_FALSE(HasFailure());
  DieAtEveryPoint(root, pristine, {L"rollback", L"--to 1", {1, 3}});
}

}  // namespace
