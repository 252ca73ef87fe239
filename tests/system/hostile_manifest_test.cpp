// Hostile manifests through the real updater in package mode: a fixed set
// of the generator's seeds, one manifest of each kind with the outcome it
// must have (a seed that ever breaks a property joins them), and the judge
// and the watcher that tell a broken property, a crash, a hang or a window
// from an ordinary end. The properties are those of
// support/hostile_client.h.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <iostream>
#include <map>
#include <string>

#include "support/files.h"
#include "support/hostile_client.h"
#include "support/manifest_mutator.h"
#include "support/messages.h"
#include "support/updater.h"
#include "support/watched_run.h"

#ifndef QF8_MISBEHAVE
#error "QF8_MISBEHAVE must name the misbehaving test program"
#endif

namespace {

// The fixed set: kBatches CTest tests of kSeedsPerBatch seeds each, seeds
// 0 to kBatches * kSeedsPerBatch - 1.
const int kBatches = 5;
const uint64_t kSeedsPerBatch = 160;

// What a series of runs came to, for the report a batch prints.
struct Tally {
  uint64_t tried = 0;
  uint64_t accepted = 0;
  std::map<std::string, uint64_t> last_lines;  // how the refused runs ended
  std::map<std::wstring, uint64_t> written;    // what the accepted ones added or changed
  DWORD elapsed_ms = 0;

  void Print(const std::string& what) const {
    std::cout << what << ": " << tried << " manifests in " << elapsed_ms / 1000.0 << " s, " << accepted << " accepted, "
              << tried - accepted << " refused\n";
    for (const auto& item : last_lines) std::cout << "  " << item.second << " x " << item.first << "\n";
    std::cout << "  written by accepted runs:";
    for (const auto& item : written) std::cout << " " << Utf8(item.first) << " (" << item.second << ")";
    std::cout << "\n";
  }
};

// Tries every stride-th seed from first to first + count - 1; every broken
// property is a test failure that names the seed, so that it can be
// replayed.
void TrySeeds(HostileClient& client, uint64_t first, uint64_t count, Tally* tally, uint64_t stride = 1) {
  DWORD start = GetTickCount();
  for (uint64_t seed = first; seed < first + count; seed += stride) {
    Mutant mutant = MutateManifest(client.valid_manifest(), seed);
    HostileClient::Verdict verdict = client.Try(mutant.bytes);
    ++tally->tried;
    if (verdict.accepted) {
      ++tally->accepted;
      for (const std::wstring& path : verdict.changed) ++tally->written[path];
    } else {
      ++tally->last_lines[verdict.last_log_line];
    }
    EXPECT_EQ(verdict.failure, "") << "seed " << seed << ": " << mutant.recipe;
  }
  tally->elapsed_ms = GetTickCount() - start;
}

// Each batch tries all its seeds, unless QUENFAR8_HOSTILE_SEED_STRIDE asks
// for every n-th (the emulated machine of the shipped 32-bit lane, about
// ten times slower, takes a share of them from every batch).
uint64_t SeedStride() {
  const char* stride = getenv("QUENFAR8_HOSTILE_SEED_STRIDE");
  long long n = stride != nullptr ? atoll(stride) : 1;
  return n >= 1 ? uint64_t(n) : 1;
}

class HostileManifests : public testing::TestWithParam<int> {};

TEST_P(HostileManifests, FixedSeeds) {
  HostileClient client(FreshTestFolder());
  Tally tally;
  const uint64_t stride = SeedStride();
  TrySeeds(client, uint64_t(GetParam()) * kSeedsPerBatch, kSeedsPerBatch, &tally, stride);
  tally.Print("batch " + std::to_string(GetParam()) + (stride > 1 ? ", one seed in " + std::to_string(stride) : ""));
}

INSTANTIATE_TEST_SUITE_P(Batch, HostileManifests, testing::Range(0, kBatches));

// The larger run, one command away: scripts/hostile-manifests.sh sets
// QUENFAR8_HOSTILE_SEEDS to "<first>:<count>" and runs this test alone. It
// is not registered with CTest.
TEST(HostileManifestsLargerRun, Seeds) {
  const char* range = getenv("QUENFAR8_HOSTILE_SEEDS");
  unsigned long long first = 0, count = 0;
  if (range == nullptr || sscanf(range, "%llu:%llu", &first, &count) != 2) {
    GTEST_SKIP() << "set QUENFAR8_HOSTILE_SEEDS=<first>:<count>, or run scripts/hostile-manifests.sh";
  }
  HostileClient client(FreshTestFolder(L"-" + std::to_wstring(first)));
  Tally tally;
  TrySeeds(client, first, count, &tally);
  tally.Print("seeds " + std::to_string(first) + " to " + std::to_string(first + count - 1));
}

// The control: release 2's own manifest is accepted, replaces, patches and
// adds what it should, and every property holds for it.
TEST(HostileManifests, ValidManifestUpdatesTheClient) {
  std::wstring root = FreshTestFolder();
  HostileClient client(root);
  std::wstring install = Join(root, L"outer\\inner\\client");
  std::string old_whole = ReadBytes(Join(install, L"whole.pak"));
  std::string old_patched = ReadBytes(Join(install, L"patched.dat"));

  HostileClient::Verdict verdict = client.Try(client.valid_manifest());
  EXPECT_EQ(verdict.failure, "");
  EXPECT_TRUE(verdict.accepted) << verdict.run.Describe() << ", " << verdict.last_log_line;
  EXPECT_EQ(verdict.last_log_line, kReady);
  EXPECT_EQ(verdict.changed, (std::vector<std::wstring>{L"added.txt", L"patched.dat", L"whole.pak"}));
  // Try() brings the client back to release 1 for the next manifest.
  EXPECT_EQ(ReadBytes(Join(install, L"whole.pak")), old_whole);
  EXPECT_EQ(ReadBytes(Join(install, L"patched.dat")), old_patched);
  EXPECT_FALSE(Exists(Join(install, L"added.txt")));
}

// Manifests of the kinds the generator makes, one of each with what the
// updater must make of it. Where the platform's INI reader decides (byte-
// order marks, line ends, NUL bytes, repeated keys and sections, Ctrl-Z),
// the expectation is what wine's reader does (see docs/wine-traps.md).
TEST(HostileManifests, OneOfEachKind) {
  HostileClient client(FreshTestFolder());
  const std::string valid = client.valid_manifest();
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = valid;
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  auto utf16 = [](const std::string& text, bool big_endian) {
    std::string out;
    for (char c : text) {
      out.push_back(big_endian ? '\0' : c);
      out.push_back(big_endian ? c : '\0');
    }
    return out;
  };
  auto with_ends = [&](const std::string& ending) {
    std::string text;
    for (const std::string& line : CrLfLines(valid)) text += line + ending;
    return text;
  };
  auto padded = [&](size_t size) {  // a comment line brings it to size bytes
    return valid + ";" + std::string(size - valid.size() - 3, 'p') + "\r\n";
  };
  const std::string nul(1, '\0');
  const std::vector<std::wstring> updated = {L"added.txt", L"patched.dat", L"whole.pak"};
  const std::vector<std::wstring> com10 = {L"COM10.txt", L"patched.dat", L"whole.pak"};
  const std::vector<std::wstring> none;

  struct {
    const char* what;
    std::string manifest;
    const char* last_line;  // kReady: accepted
    const std::vector<std::wstring>& changed;
  } const cases[] = {
      {"exactly 1 MiB", padded(1048576), kReady, updated},
      {"1 MiB and one byte", padded(1048577), kPackageSize, none},
      {"UTF-8 byte-order mark", "\xef\xbb\xbf" + valid, kReady, updated},
      {"UTF-8 byte-order mark twice", "\xef\xbb\xbf\xef\xbb\xbf" + valid, kUnsupported, none},
      {"UTF-16 LE with byte-order mark", "\xff\xfe" + utf16(valid, false), kReady, updated},
      {"UTF-16 BE with byte-order mark", "\xfe\xff" + utf16(valid, true), kReady, updated},
      {"UTF-16 LE without byte-order mark", utf16(valid, false), kUnsupported, none},
      {"LF-only lines", with_ends("\n"), kReady, updated},
      {"CR-only lines", with_ends("\r"), kReady, updated},
      {"LF CR line ends", with_ends("\n\r"), kReady, updated},
      {"a line of 300,000 characters", valid + ";" + std::string(300000, 'c') + "\r\n", kReady, updated},
      {"a NUL byte ends a value", replaced("name=added.txt", "name=added.txt" + nul + "\\..\\escape.txt"), kReady,
       updated},
      {"a NUL byte before [release]", nul + valid, kUnsupported, none},
      {"a key twice: the first counts", replaced("name=added.txt", "name=added.txt\r\nname=..\\escape.txt"), kReady,
       updated},
      {"a section twice: the first counts", valid + "[file.3]\r\nname=con\r\n", kReady, updated},
      {"a key only in a repeated section is missing",
       replaced("full=files/empty.dat\r\npatches=0\r\n", "full=files/empty.dat\r\n") + "[file.4]\r\npatches=0\r\n",
       kBadEntry, none},
      {"Ctrl-Z after a value is a blank", replaced("count=5", "count=5\x1a"), kReady, updated},
      {"a comment after a value is part of it", replaced("count=5", "count=5 ; five"), kUnsupported, none},
      {"keys and sections in upper case", replaced("[file.3]\r\nname=", "[FILE.3]\r\nNAME="), kReady, updated},
      {"a look-alike letter in a name",
       replaced("name=added.txt",
                "name=\xd0\xb0"
                "dded.txt"),
       kBadEntry, none},
      {"a look-alike letter in a UTF-8 name",
       "\xef\xbb\xbf" + replaced("name=added.txt",
                                 "name=\xd0\xb0"
                                 "dded.txt"),
       kBadEntry, none},
      {"a device name with an extension", replaced("name=added.txt", "name=Com1.txt"), kBadEntry, none},
      {"a name with a folder", replaced("name=added.txt", "name=sub\\added.txt"), kBadEntry, none},
      {"a name that climbs out", replaced("name=added.txt", "name=..\\added.txt"), kBadEntry, none},
      {"a device-like name that is none", replaced("name=added.txt", "name=COM10.txt"), kReady, com10},
      {"a name differing only in case", replaced("name=added.txt", "name=WHOLE.PAK"), kDuplicate, none},
      {"a remote path that climbs out", replaced("full=files/added.txt", "full=files/../../client/keep.txt"), kBadEntry,
       none},
      {"a count past the limit", replaced("count=5", "count=129"), kUnsupported, none},
      {"a size past 2^40", replaced("size=0\r\n", "size=1099511627777\r\n"), kBadEntry, none},
  };
  for (const auto& c : cases) {
    HostileClient::Verdict verdict = client.Try(c.manifest);
    EXPECT_EQ(verdict.failure, "") << c.what;
    EXPECT_EQ(verdict.last_log_line, c.last_line) << c.what;
    EXPECT_EQ(verdict.accepted, std::string(c.last_line) == kReady) << c.what;
    EXPECT_EQ(verdict.changed, c.changed) << c.what;
  }
}

// ---------------------------------------------------------------------------
// The judge and the watcher must be able to fail.

TEST(HostileManifests, JudgeSeesEveryBrokenProperty) {
  WatchedRun exit0, exit1, exit2, crash;
  exit0.ending = exit1.ending = exit2.ending = WatchedRun::kExited;
  exit1.exit_code = 1;
  exit2.exit_code = 2;
  crash.ending = WatchedRun::kCrashed;
  crash.exception_code = 0xC0000005;
  WatchedRun box = exit1;
  box.windows.push_back(L"Quenfar8");

  auto file = [](const std::wstring& path, const std::string& bytes) {
    TreeEntry entry;
    entry.path = path;
    entry.bytes = bytes;
    return entry;
  };
  const std::wstring client = L"outer\\inner\\client";
  TreeSnapshot base;
  base[L"outer\\inner\\client\\data.pak"] = file(client + L"\\data.pak", "old");
  auto with = [&](const std::wstring& path, const std::string& bytes) {
    TreeSnapshot tree = base;
    std::wstring key = path;
    for (wchar_t& c : key) c = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
    tree[key] = file(path, bytes);
    return tree;
  };
  TreeSnapshot removed;
  TreeSnapshot folder_added = base;
  folder_added[L"outer\\inner\\client\\new"] = TreeEntry{client + L"\\new", true, ""};

  struct {
    const char* what;
    const WatchedRun& run;
    std::string last_line;
    TreeSnapshot after;
    bool holds;
  } const cases[] = {
      {"refused, nothing changed", exit1, kBadEntry, base, true},
      {"accepted, a file replaced", exit0, kReady, with(client + L"\\data.pak", "new"), true},
      {"accepted, a file added", exit0, kReady, with(client + L"\\COM10.dat", "x"), true},
      {"exit code 2", exit2, kBadEntry, base, false},
      {"a crash", crash, "", base, false},
      {"a message box", box, kBadEntry, base, false},
      {"exit 0 without the success line", exit0, kApplying, base, false},
      {"exit 1 without a failure message", exit1, kReady, base, false},
      {"refused, a file replaced", exit1, kBadEntry, with(client + L"\\data.pak", "new"), false},
      {"refused, a file added", exit1, kBadEntry, with(client + L"\\added.txt", "x"), false},
      {"accepted, a file removed", exit0, kReady, removed, false},
      {"accepted, a device name", exit0, kReady, with(client + L"\\com1.txt", "x"), false},
      {"accepted, the patch tool", exit0, kReady, with(client + L"\\HPATCHZ.EXE", "x"), false},
      {"accepted, a file in a subfolder", exit0, kReady, with(client + L"\\sub\\a.txt", "x"), false},
      {"accepted, a file beside the client", exit0, kReady, with(L"outer\\inner\\escape.txt", "x"), false},
      {"accepted, a folder", exit0, kReady, folder_added, false},
  };
  for (const auto& c : cases) {
    std::string verdict = JudgeRun(c.run, c.last_line, base, c.after);
    EXPECT_EQ(verdict.empty(), c.holds) << c.what << ": " << verdict;
  }
}

TEST(WatchedRun, TellsCrashesHangsAndWindowsFromAnEnd) {
  const std::wstring program = WindowsPath(QF8_MISBEHAVE);
  std::wstring folder = FreshTestFolder();
  struct {
    const wchar_t* arguments;
    DWORD timeout_ms;
    WatchedRun::Ending ending;
    DWORD code;  // exit or exception code
    bool window;
  } const cases[] = {
      {L"exit 0", 60000, WatchedRun::kExited, 0, false},
      {L"exit 1", 60000, WatchedRun::kExited, 1, false},
      {L"exit 7", 60000, WatchedRun::kExited, 7, false},
      {L"access", 60000, WatchedRun::kCrashed, 0xC0000005, false},
      {L"stack", 60000, WatchedRun::kCrashed, 0xC00000FD, false},
      {L"hang", 3000, WatchedRun::kTimedOut, 0, false},
      // The box never closes: the run times out, and the window must have
      // been seen by then, which a loaded machine may take long to show.
      {L"box", 30000, WatchedRun::kTimedOut, 0, true},
  };
  for (const auto& c : cases) {
    std::string what = Utf8(c.arguments);
    WatchedRun run = RunWatched(program, c.arguments, folder, c.timeout_ms);
    EXPECT_EQ(run.ending, c.ending) << what << ": " << run.Describe();
    if (c.ending == WatchedRun::kExited) EXPECT_EQ(run.exit_code, c.code) << what;
    if (c.ending == WatchedRun::kCrashed) EXPECT_EQ(run.exception_code, c.code) << what << ": " << run.Describe();
    EXPECT_EQ(!run.windows.empty(), c.window) << what << ": " << run.Describe();
    // A crash is reported as soon as it happens, not after the time-out.
    if (c.ending != WatchedRun::kTimedOut) EXPECT_LT(run.elapsed_ms, 30000u) << what;
  }
}

}  // namespace
