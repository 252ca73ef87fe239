// A publisher's whole path on a real web server: two releases packed with
// the project's own differ and patch tool, checked as nginx serves them,
// and the real updater bringing clients to the new release.
#include <gtest/gtest.h>

#include "support/messages.h"
#include "support/nginx_feed.h"
#include "support/process.h"
#include "tests/release/publishing.h"

namespace {

// The body bytes nginx logged as sent for request lines of its access log:
// <method> <path> <status> <bytes> "<agent>".
uint64_t BytesSent(const std::vector<std::string>& lines) {
  uint64_t bytes = 0;
  for (const std::string& line : lines) {
    size_t status = line.find(' ', line.find(' ') + 1);
    size_t sent = line.find(' ', status + 1);
    bytes += std::stoull(line.substr(sent + 1, line.find(' ', sent + 1) - sent - 1));
  }
  return bytes;
}

// The requests nginx logged below /<name>/ after the first `from`, once
// there are `count` of them (it logs a request when it has handed over the
// last byte, which may be a moment after the updater read it).
std::vector<std::string> RequestsAfter(const NginxFeed& feed, const std::string& name, size_t from, size_t count) {
  std::vector<std::string> lines;
  WaitFor([&] {
    lines = feed.RequestsFor(name);
    return lines.size() >= from + count;
  });
  if (lines.size() < from) return {};
  return std::vector<std::string>(lines.begin() + long(from), lines.end());
}

TEST(Publishing, TwoReleasesServedByNginxUpdateOldAndNewClients) {
  NginxFeed server;
  ASSERT_TRUE(server.Load()) << "the nginx fixture is not running";
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1");
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  const std::string name = "publishing-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  std::wstring feed = server.Folder(name);
  std::wstring tools = L"--diff-tool " + Quoted(TestDiffTool()) + L" --patch-tool " + Quoted(TestPatchTool());
  ToolRun pack10 = Pack(c10, feed, L"--version 1.0");
  ASSERT_EQ(pack10.exit_code, 0u) << Printed(pack10);
  ToolRun pack11 = Pack(c11, feed, L"--version 1.1 --from " + Quoted(c10) + L" " + tools);
  ASSERT_EQ(pack11.exit_code, 0u) << Printed(pack11);

  std::wstring url = Wide(server.Url(name));
  ToolRun check = Check(url, L"--client " + Quoted(c10) + L" --patch-tool " + Quoted(TestPatchTool()));
  EXPECT_EQ(check.exit_code, 0u) << Printed(check);
  EXPECT_TRUE(check.HasLine({"no problems"})) << check.out;
  size_t requests_before = server.RequestsFor(name).size();

  // A 1.0 client: the data file through its patch, the readme and the music
  // whole, the game left alone.
  InstallFolder old_client(Join(root, L"old-client"));
  WriteClient(old_client.dir(), releases.v10);
  ASSERT_TRUE(CopyFileW(TestPatchTool().c_str(), old_client.Path(L"hpatchz.exe").c_str(), FALSE));
  old_client.WriteFeed(server.Url(name));
  InstallFolder::Result result = old_client.Update(L"/quiet");
  ASSERT_EQ(result.outcome.exit_code, 0u) << (result.log.empty() ? "" : result.log.back());
  for (const auto& file : releases.v11) EXPECT_EQ(ReadBytes(old_client.Path(Wide(file.first))), file.second);
  EXPECT_NE(std::find(result.log.begin(), result.log.end(), std::string("변경분 받는 중: data.pak")), result.log.end());

  // What it fetched: the manifest, the patch and the two whole files, and
  // nothing else; as many bytes as pack's summary promised, plus the
  // manifest.
  std::vector<std::string> fetched = RequestsAfter(server, name, requests_before, 4);
  EXPECT_EQ(fetched.size(), 4u);
  std::string manifest = ReadBytes(Join(feed, L"manifest.ini"));
  std::string patch = MakeTestPatch(releases.v10.at("data.pak"), releases.v11.at("data.pak"));
  uint64_t promised = patch.size() + releases.v11.at("readme.txt").size() + releases.v11.at("music.ogg").size();
  EXPECT_EQ(BytesSent(fetched), manifest.size() + promised);
  EXPECT_TRUE(pack11.HasLine({"clients of", "(" + std::to_string(promised) + " bytes)"})) << pack11.out;

  // An empty install folder: every file whole.
  InstallFolder new_client(Join(root, L"new-client"));
  new_client.WriteFeed(server.Url(name));
  ASSERT_EQ(new_client.Update(L"/quiet").outcome.exit_code, 0u);
  for (const auto& file : releases.v11) EXPECT_EQ(ReadBytes(new_client.Path(Wide(file.first))), file.second);

  // A second run changes nothing.
  StampedTree updated = StampedSnapshot(old_client.dir());
  InstallFolder::Result again = old_client.Update(L"/quiet");
  EXPECT_EQ(again.outcome.exit_code, 0u);
  EXPECT_EQ(again.log.back(), kReady);
  StampedTree after = StampedSnapshot(old_client.dir());
  for (const auto& file : releases.v11) EXPECT_TRUE(after[file.first] == updated[file.first]) << file.first;
}

}  // namespace
