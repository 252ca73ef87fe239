// The check command's --ini form: the INI file a publisher ships, read
// with the updater's own reader and rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/release_tool.h"

namespace {

const char kFeedLine[] = "feed=https://patch.example.com/quenfar8/live/\r\n";

// The Korean line the updater logs for a key it does not understand.
std::string IgnoredLine(const std::string& key) {
  return "\"Quenfar8Updater.ini의 " + key + " 값을 알 수 없어 기본 동작으로 진행합니다.\"";
}

std::string Printed(const ToolRun& run) { return "output:\n" + run.out + "errors:\n" + run.err; }

ToolRun CheckIni(const std::string& text) {
  std::wstring ini = Join(FreshTestFolder(), L"Quenfar8Updater.ini");
  WriteBytes(ini, text);
  return RunReleaseTool(L"check --ini " + Quoted(ini));
}

// Files the updater reads as the publisher means them: exit code 0, and
// what the updater will do with each key.
TEST(CheckIni, GoodFilesSayWhatTheUpdaterDoes) {
  const struct {
    std::string ini;
    std::vector<std::vector<std::string>> lines;
  } cases[] = {
      {std::string("[updater]\r\n") + kFeedLine + "network=resilient\r\nkeep_runs=3\r\nprogress=bytes\r\n",
       {{"feed: https://patch.example.com/quenfar8/live/"}, {"network: resilient"}, {"keep_runs: 3"},
        {"progress: bytes"}}},
      {std::string("; written by the installer\r\n[Updater]\r\n") + kFeedLine + "KEEP_RUNS = 100\r\n",
       {{"network: not set"}, {"keep_runs: 100"}, {"progress: not set", "one step per file"}}},
      {std::string("[updater]\r\n") + kFeedLine + "keep_runs=\r\n",
       {{"keep_runs: not set", "every run folder is kept"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    ToolRun run = CheckIni(c.ini);
    EXPECT_EQ(run.exit_code, 0u) << Printed(run);
    EXPECT_TRUE(run.Lines("problem: ").empty()) << Printed(run);
    for (const auto& pieces : c.lines) EXPECT_TRUE(run.HasLine(pieces)) << pieces[0] << "\n" << Printed(run);
    EXPECT_TRUE(run.HasLine({"no problems: a player's updater reads this file as written"})) << Printed(run);
  }
}

// Every problem of a file, each naming its key with the rule and what the
// updater does instead; exit code 1.
TEST(CheckIni, BadFilesNameEveryProblem) {
  const std::string head = std::string("[updater]\r\n") + kFeedLine;
  const struct {
    std::string ini;
    std::vector<std::vector<std::string>> problems;  // the pieces of each problem line
  } cases[] = {
      {"[updater]\r\nkeep_runs=3\r\n", {{"[updater] feed: missing or empty"}}},
      {"[updater]\r\nfeed=http://patch.example.com/live/\r\n", {{"[updater] feed: \"http://", "https://"}}},
      {"[updater]\r\nfeed=https://patch.example.com/live\r\n", {{"[updater] feed:", "ends with /"}}},
      {head + "network=Resilient\r\n", {{"[updater] network: \"Resilient\"", "resilient", IgnoredLine("network")}}},
      {head + "keep_runs=0\r\n", {{"[updater] keep_runs: \"0\"", "1 to 100", IgnoredLine("keep_runs")}}},
      {head + "keep_runs=101\r\n", {{"[updater] keep_runs: \"101\"", "every run folder is kept"}}},
      {head + "keep_runs=3 runs\r\n", {{"[updater] keep_runs: \"3 runs\""}}},
      {head + "progress=percent\r\n", {{"[updater] progress: \"percent\"", "bytes", IgnoredLine("progress")}}},
      {head + "netwrok=resilient\r\nprogres=bytes\r\n",
       {{"[updater] netwrok:", "no such key"}, {"[updater] progres:", "no such key"}}},
      {head + "[options]\r\nkeep_runs=3\r\n", {{"[options]:", "only [updater]"}}},
      {"[updates]\r\nfeed=https://patch.example.com/live/\r\n",
       {{"[updater] feed: missing or empty"}, {"[updates]:", "only [updater]"}}},
      {"[updater]\r\nfeed=https://patch.example.com/live/\r\nnetwork=on\r\nkeep_runs=-1\r\nprogress=BYTES\r\n",
       {{"[updater] network: \"on\""}, {"[updater] keep_runs: \"-1\""}, {"[updater] progress: \"BYTES\""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    ToolRun run = CheckIni(c.ini);
    EXPECT_EQ(run.exit_code, 1u) << Printed(run);
    EXPECT_EQ(run.Lines("problem: ").size(), c.problems.size()) << Printed(run);
    for (const auto& pieces : c.problems) {
      std::vector<std::string> with_prefix = pieces;
      with_prefix[0] = "problem: " + pieces[0];
      EXPECT_TRUE(run.HasLine(with_prefix)) << pieces[0] << "\n" << Printed(run);
    }
    std::string count = c.problems.size() == 1 ? "1 problem" : std::to_string(c.problems.size()) + " problems";
    EXPECT_TRUE(run.HasLine({count})) << Printed(run);
  }
}

// A file that is not there is a problem; a command line that mixes --ini
// with a feed or the feed's options, or gives no file, is a usage error.
TEST(CheckIni, MissingFileAndCommandLines) {
  std::wstring folder = FreshTestFolder();
  ToolRun missing = RunReleaseTool(L"check --ini " + Quoted(Join(folder, L"absent.ini")));
  EXPECT_EQ(missing.exit_code, 1u) << Printed(missing);
  EXPECT_TRUE(missing.HasLine({"problem: ", "absent.ini: no such file"})) << Printed(missing);

  std::wstring ini = Join(folder, L"Quenfar8Updater.ini");
  WriteBytes(ini, std::string("[updater]\r\n") + kFeedLine);
  const std::wstring usage[] = {
      L"check --ini",
      L"check --ini " + Quoted(ini) + L" " + Quoted(folder),
      L"check --ini " + Quoted(ini) + L" --client " + Quoted(folder),
      L"check --ini " + Quoted(ini) + L" --ini " + Quoted(ini),
  };
  for (const std::wstring& arguments : usage) {
    ToolRun run = RunReleaseTool(arguments);
    EXPECT_EQ(run.exit_code, 2u) << Utf8(arguments) << "\n" << Printed(run);
  }
}

}  // namespace
