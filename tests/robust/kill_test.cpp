// The updater killed from outside with SIGKILL (what the system does to a
// process at a power cut or an out-of-memory kill; wine processes are Linux
// processes) at seeded moments of its commit. A helper on the build
// machine's side (kill_updater.py) watches the run's log for the line
// written right before the commit, waits the try's delay and kills that one
// process. After each kill the client must be whole and the next run must
// finish the job.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "robust/update_bench.h"
#include "support/files.h"
#include "support/messages.h"

#ifndef QF8_KILL_SCRIPT
#error "QF8_KILL_SCRIPT must name kill_updater.py"
#endif

namespace {

const int kTries = 24;

// Many rows, so that the commit's renames take a while: 48 files replaced
// whole, 4 patched (few: each starts the patch tool), 12 added,
// interleaved, and the game unchanged.
std::vector<ReleaseFile> ManyRowRelease() {
  std::vector<ReleaseFile> files = {
      {"Quenfar8.exe", Row::kCurrent, "the game, unchanged", "the game, unchanged"}};
  for (unsigned i = 0; i < 64; ++i) {
    char name[32];
    if (i % 16 < 12) {
      snprintf(name, sizeof name, "w-%02u.pak", i);
      files.push_back({name, Row::kWhole, Filler(3000, 1000 + i), Filler(3500, 2000 + i)});
    } else if (i % 16 == 12) {
      snprintf(name, sizeof name, "p-%02u.dat", i);
      std::string old_bytes = Filler(6000, 3000 + i);
      std::string new_bytes = old_bytes;
      new_bytes.replace(1000 + i, 4, "EDIT");
      files.push_back({name, Row::kPatched, old_bytes, new_bytes});
    } else {
      snprintf(name, sizeof name, "a-%02u.txt", i);
      files.push_back({name, Row::kAdded, "", Filler(1000, 4000 + i)});
    }
  }
  return files;
}

std::wstring UnixPath(const std::wstring& windows_path) {
  std::wstring path = windows_path.substr(2);
  std::replace(path.begin(), path.end(), L'\\', L'/');
  return path;
}

// Starts kill_updater.py for client's updater with delay ("measure" or a
// count of milliseconds) and waits until it runs.
bool StartKiller(const InstallFolder& client, const std::wstring& delay, const std::wstring& result) {
  std::wstring command = L"python3 \"" + Wide(QF8_KILL_SCRIPT) + L"\" \"" + client.exe() + L"\" \"" +
                         UnixPath(client.dir()) + L"\" " + delay + L" \"" + UnixPath(result) + L"\"";
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\usr\\bin\\python3", buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return WaitFor([&] { return Exists(result + L".ready"); }, 60000);
}

// The helper's one-line result, once it is there.
std::string KillerResult(const std::wstring& result) {
  if (!WaitFor([&] { return Exists(result); }, 90000)) return "(no result)";
  std::string text = ReadBytes(result);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// A fixed sequence of fractions in [0, 1): the tries are the same on every
// run, only the length of the commit they are spread over is measured.
double SeededFraction(uint64_t seed) {
  uint64_t z = seed * 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return double(z % 1000000) / 1000000.0;
}

TEST(KillDuringCommit, SigkillAtSeededMoments) {
  UpdateBench bench(ManyRowRelease(), Source::kPackage);
  const std::wstring& records = bench.Records();

  // How long the commit and the final verification take here and now.
  std::unique_ptr<InstallFolder> measured = bench.NewClient(L"measure");
  std::wstring measure_result = Join(records, L"kill-measure");
  ASSERT_TRUE(StartKiller(*measured, L"measure", measure_result)) << "the helper did not start";
  RunRecord measure_run = bench.Run(*measured, RunSettings());
  ASSERT_EQ(measure_run.exit_code, 0u);
  std::string measure = KillerResult(measure_result);
  ASSERT_EQ(measure.compare(0, 9, "measured "), 0) << measure;
  const int window_ms = std::max(20, atoi(measure.c_str() + 9));
  measure_run.program.reset();

  int killed = 0, ended = 0, passed = 0;
  std::map<DWORD, int> exit_codes;
  StateTally tally;
  const testing::TestResult* result = testing::UnitTest::GetInstance()->current_test_info()->result();
  for (int i = 0; i < kTries; ++i) {
    // Spread over the measured window and a quarter beyond it.
    const int delay_ms = int(SeededFraction(uint64_t(i) + 1) * window_ms * 1.25);
    SCOPED_TRACE("try " + std::to_string(i) + ", " + std::to_string(delay_ms) + " ms after the commit began");
    const int failures_before = result->total_part_count();
    std::unique_ptr<InstallFolder> client = bench.NewClient(L"try-" + std::to_wstring(i));
    std::wstring killer_result = Join(records, L"kill-try-" + std::to_wstring(i));
    ASSERT_TRUE(StartKiller(*client, std::to_wstring(delay_ms), killer_result)) << "the helper did not start";
    RunRecord run = bench.Run(*client, RunSettings());
    std::string outcome = KillerResult(killer_result);
    EXPECT_TRUE(outcome.compare(0, 7, "killed ") == 0 || outcome == "ended") << outcome;
    if (outcome.compare(0, 7, "killed ") == 0) {
      ++killed;
      ++exit_codes[run.exit_code];
    } else {
      ++ended;
      EXPECT_EQ(run.exit_code, 0u) << "a run that was not killed must have succeeded";
    }
    StateTally state;
    bench.ExpectNeverBroken(*client, &state);
    if (outcome == "ended") EXPECT_EQ(state.all_new, 1) << state.Text();
    tally.Add(state);
    bench.ExpectConverges(*client, &run);
    if (result->total_part_count() == failures_before) {
      ++passed;
      RemoveTree(client->dir());
    }
  }
  std::string codes;
  for (const auto& entry : exit_codes) {
    codes += " " + std::to_string(entry.first) + " (" + std::to_string(entry.second) + "x)";
  }
  printf("[sigkill] %d tries over a window of %d ms: killed %d, ended before their moment %d; passed %d; "
         "exit codes of the killed runs as wine reports them:%s; states after the kill: %s\n",
         kTries, window_ms, killed, ended, passed, codes.c_str(), tally.Text().c_str());
  fflush(stdout);
  // The moments lie within the commit as it was measured: if no try killed
  // a run, the test tried nothing.
  EXPECT_GT(killed, 0) << "every run ended before its moment";
}

}  // namespace
