// The real test build of the updater against a feed served by nginx with
// the site configuration that publishers are given: what it asks for, what
// nginx answers, and the client that results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/messages.h"
#include "support/nginx_feed.h"
#include "support/process.h"
#include "support/release.h"
#include "support/updater.h"

namespace {

const char kAgent[] = "\"Quenfar8Updater/1\"";

// The nginx request lines below /<name>/ of the given paths, as the access
// log writes them for a GET answered with status and the whole body.
std::vector<std::string> Expected(const std::string& name,
                                  const std::vector<std::pair<std::string, size_t>>& answered) {
  std::vector<std::string> lines;
  for (const auto& a : answered) {
    lines.push_back("GET /" + name + "/" + a.first + " 200 " + std::to_string(a.second) + " " + kAgent);
  }
  return lines;
}

// Waits until nginx has logged count requests below /<name>/ (it logs a
// request once it has handed over the last byte, which may be a moment
// after the updater has read it).
std::vector<std::string> LoggedRequests(const NginxFeed& feed, const std::string& name, size_t count) {
  std::vector<std::string> seen;
  WaitFor([&] {
    seen = feed.RequestsFor(name);
    return seen.size() >= count;
  });
  return seen;
}

// An older client brought up to date from nginx: a current file is left
// alone, a changed file comes whole, another as a patch, a new one whole;
// nginx is asked for exactly the manifest and those three, each answered
// 200 with its full length. A second run asks for the manifest only.
TEST(NginxFeed, UpdatesAClient) {
  NginxFeed feed;
  ASSERT_TRUE(feed.Load()) << "the nginx fixture is not running";
  // A name of this run's own: nginx's log lasts as long as its session.
  const std::string name = "nginx-update-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  std::wstring root = FreshTestFolder();
  InstallFolder install(Join(root, L"client"));

  const std::string game = ReadBytes(FakeGameExe());
  const std::string old_big = Filler(3 * 1048576 + 12345, 1);  // many chunks and TLS records
  const std::string new_big = Filler(3 * 1048576 + 20000, 2);
  const std::string old_patched = Filler(300000, 3);
  std::string new_patched = old_patched;
  new_patched.replace(100000, 7, "CHANGED");
  const std::string added = "a file the old client did not have";

  WriteBytes(install.Path(L"Quenfar8.exe"), game);
  WriteBytes(install.Path(L"big.pak"), old_big);
  WriteBytes(install.Path(L"patched.dat"), old_patched);
  ASSERT_TRUE(CopyFileW(TestPatchTool().c_str(), install.Path(L"hpatchz.exe").c_str(), FALSE));

  Release release(feed.Folder(name));
  release.AddFile("Quenfar8.exe", game);
  release.AddFile("big.pak", new_big);
  int patched = release.AddFile("patched.dat", new_patched);
  release.AddPatch(patched, old_patched);
  release.AddFile("added.txt", added);
  release.WriteManifest();
  install.WriteFeed(feed.Url(name));

  InstallFolder::Result first = install.Update(L"/quiet");
  EXPECT_EQ(first.outcome.exit_code, 0u);
  EXPECT_EQ(first.log, (std::vector<std::string>{
                           std::string(kChecking) + "Quenfar8.exe",
                           std::string(kChecking) + "big.pak",
                           std::string(kChecking) + "patched.dat",
                           std::string(kChecking) + "added.txt",
                           "파일 받는 중: big.pak",
                           "변경분 받는 중: patched.dat",
                           "파일 받는 중: added.txt",
                           kApplying,
                           kReady,
                       }));
  EXPECT_EQ(ReadBytes(install.Path(L"Quenfar8.exe")), game);
  EXPECT_EQ(ReadBytes(install.Path(L"big.pak")), new_big);
  EXPECT_EQ(ReadBytes(install.Path(L"patched.dat")), new_patched);
  EXPECT_EQ(ReadBytes(install.Path(L"added.txt")), added);

  const std::string manifest = release.ManifestText();
  const std::string patch = ReadBytes(Join(feed.www, Wide(name + "\\patches\\2-0.qpatch")));
  ASSERT_NE(patch, "<missing>");
  std::vector<std::string> expected = Expected(name, {{"manifest.ini", manifest.size()},
                                                      {"files/big.pak", new_big.size()},
                                                      {"patches/2-0.qpatch", patch.size()},
                                                      {"files/added.txt", added.size()}});
  EXPECT_EQ(LoggedRequests(feed, name, expected.size()), expected);

  InstallFolder::Result second = install.Update(L"/quiet");
  EXPECT_EQ(second.outcome.exit_code, 0u);
  EXPECT_EQ(second.log.back(), kReady);
  expected.push_back(Expected(name, {{"manifest.ini", manifest.size()}})[0]);
  EXPECT_EQ(LoggedRequests(feed, name, expected.size()), expected);
}

// A name the feed does not hold as a file is answered 404, a folder
// included (never a redirect to the name with a slash); the run fails with
// the download message and leaves the client as it was.
TEST(NginxFeed, NotAFileOnTheFeed) {
  NginxFeed feed;
  ASSERT_TRUE(feed.Load()) << "the nginx fixture is not running";
  struct {
    const char* what;
    const char* full;  // the remote path the manifest names for data.pak
  } const cases[] = {
      {"a blob not uploaded", "files/not-there"},
      {"a folder, with the slash", "files/"},
      {"a folder, without it", "files"},
  };
  std::wstring root = FreshTestFolder();
  const std::string game = ReadBytes(FakeGameExe());
  int i = 0;
  for (const auto& c : cases) {
    const std::string name =
        "nginx-missing-" + std::to_string(i) + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    InstallFolder install(Join(root, L"client" + std::to_wstring(i++)));
    WriteBytes(install.Path(L"Quenfar8.exe"), game);
    WriteBytes(install.Path(L"data.pak"), "old level data");
    std::wstring folder = feed.Folder(name);
    Release release(folder);
    release.AddFile("Quenfar8.exe", game);  // files/ is a folder on the feed
    int data = release.AddFile("data.pak", "new level data", "files/not-there");
    DeleteFileW(Join(folder, L"files\\not-there").c_str());
    release.Set("file." + std::to_string(data), "full", c.full);
    release.WriteManifest();
    install.WriteFeed(feed.Url(name));

    InstallFolder::Result run = install.Update(L"/quiet");
    EXPECT_EQ(run.outcome.exit_code, 1u) << c.what;
    ASSERT_GE(run.log.size(), 2u) << c.what;
    EXPECT_EQ(run.log[run.log.size() - 2], kDownloadFailed) << c.what;
    EXPECT_EQ(run.log.back(), kDownloadCheck) << c.what;
    EXPECT_EQ(ReadBytes(install.Path(L"data.pak")), "old level data") << c.what;

    std::vector<std::string> seen = LoggedRequests(feed, name, 2);
    ASSERT_EQ(seen.size(), 2u) << c.what;
    std::string prefix = "GET /" + name + "/" + c.full + " 404 ";
    EXPECT_EQ(seen[1].compare(0, prefix.size(), prefix), 0) << c.what << ": " << seen[1];
  }
}

}  // namespace
