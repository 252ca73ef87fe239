// The release tool's check command: every problem of a manifest in one run,
// with the section, the key and the player's message; broken files and
// patches in a feed folder and over HTTPS; the plan for an install folder;
// patches applied. And a player's updater refuses what check refuses. Over
// HTTPS a blob cut short on every request is that blob's problem alone.
#include <gtest/gtest.h>

#include "support/feed.h"
#include "support/nginx_feed.h"
#include "support/messages.h"
#include "tests/release/publishing.h"
#include "transfer/ranged_fetch.h"

#if !defined(QF8_TEST_RELEASE_TOOL)
#error "the build must name the test build of the release tool"
#endif

namespace {

// The release tool built with the test seams: its waits between retries
// can be shortened.
std::wstring TestReleaseToolExe() { return WindowsPath(QF8_TEST_RELEASE_TOOL); }

// Releases 1.0 and 1.1 packed into one feed folder (below root, or served
// by nginx with the site configuration publishers get when over_https).
struct PackedFeed {
  SampleReleases releases;
  std::wstring root, c10, c11, feed;
  std::string url;  // the feed's address when it is served
  NginxFeed server;

  explicit PackedFeed(bool over_https = false, const std::wstring& suffix = L"") {
    root = FreshTestFolder(suffix);
    c10 = Join(root, L"1.0");
    c11 = Join(root, L"1.1");
    feed = Join(root, L"feed");
    if (over_https) {
      EXPECT_TRUE(server.Load()) << "the nginx fixture is not running";
      std::string name = "check-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
      feed = server.Folder(name);
      url = server.Url(name);
    }
    WriteClient(c10, releases.v10);
    WriteClient(c11, releases.v11);
    EXPECT_EQ(Pack(c10, feed, L"--version 1.0").exit_code, 0u);
    EXPECT_EQ(Pack(c11, feed, L"--version 1.1 " + From(c10)).exit_code, 0u);
  }

  // The address or the folder, for check and the updater.
  std::wstring Source() const { return url.empty() ? feed : Wide(url); }

  std::wstring Blob(const std::string& name) const {
    return Join(feed, L"files\\" + Wide(DigestOf(releases.v11.at(name))));
  }
  std::wstring DataPatch() const {
    return Join(feed, L"patches\\" +
                          Wide(DigestOf(MakeTestPatch(releases.v10.at("data.pak"), releases.v11.at("data.pak")))));
  }

  // The player's updater on a 1.0 client of this feed: its result and
  // whether the install folder is untouched.
  InstallFolder::Result UpdateOldClient(bool* untouched) const {
    InstallFolder install(Join(root, L"install"));
    WriteClient(install.dir(), releases.v10);
    EXPECT_TRUE(CopyFileW(TestPatchTool().c_str(), install.Path(L"hpatchz.exe").c_str(), FALSE));
    std::wstring arguments = L"/quiet";
    if (url.empty()) {
      arguments += L" /package " + Quoted(feed);
    } else {
      install.WriteFeed(url);
    }
    StampedTree before = StampedSnapshot(install.dir());
    InstallFolder::Result result = install.Update(arguments);
    StampedTree after = StampedSnapshot(install.dir());
    *untouched = true;
    for (const auto& entry : before) {
      if (entry.first.compare(0, 16, ".quenfar8-update") == 0) continue;
      *untouched = *untouched && after.count(entry.first) && after[entry.first] == entry.second;
    }
    for (const auto& entry : after) {
      if (entry.first.compare(0, 16, ".quenfar8-update") != 0) *untouched = *untouched && before.count(entry.first);
    }
    return result;
  }
};

TEST(Check, AcceptsAPackedFeedFromItsFolderAndOverHttps) {
  for (bool over_https : {false, true}) {
    PackedFeed packed(over_https, over_https ? L"https" : L"folder");
    ToolRun run = Check(packed.Source());
    EXPECT_EQ(run.exit_code, 0u) << Printed(run);
    EXPECT_TRUE(run.Lines("problem: ").empty()) << run.out;
    EXPECT_TRUE(run.HasLine({"no problems"})) << run.out;
    EXPECT_TRUE(run.HasLine({"manifest.ini: 4 files; 5 files and patches named"})) << run.out;
  }
}

TEST(Check, ReportsEveryProblemOfTheManifestWithItsSectionKeyAndMessage) {
  PackedFeed packed;
  std::string text = ReadBytes(Join(packed.feed, L"manifest.ini"));
  auto replace = [&](const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
  };
  // [file.0] data.pak, [file.1] music.ogg, [file.2] Quenfar8.exe, [file.3] readme.txt
  replace("format=1", "format=2");
  replace("name=music.ogg", "name=aux.ogg");
  replace("sha256=" + DigestOf(packed.releases.v11.at("readme.txt")), "sha256=ABC");
  replace("size=" + std::to_string(packed.releases.v11.at("readme.txt").size()), "size=-1");
  replace("name=data.pak", "name=README.TXT");
  replace("base_sha256=", "base_sha256=X");
  WriteBytes(Join(packed.feed, L"manifest.ini"), text);

  ToolRun run = Check(packed.feed);
  EXPECT_EQ(run.exit_code, 1u) << Printed(run);
  const std::vector<std::vector<std::string>> kExpected = {
      {"[release] format", "\"2\"", kUnsupported},
      {"[file.1] name", "aux.ogg", "device name", kBadEntry},
      {"[file.3] sha256", "\"ABC\"", "64 lowercase", kBadEntry},
      {"[file.3] size", "\"-1\"", kBadEntry},
      {"[file.3] name", "readme.txt", "repeats [file.0]", kDuplicate},
      {"[patch.0.0] base_sha256", kBadPatch},
  };
  for (const auto& pieces : kExpected) EXPECT_TRUE(run.HasLine(pieces)) << pieces[0] << "\n" << run.out;
  EXPECT_EQ(run.Lines("problem: ").size(), kExpected.size()) << run.out;

  // Another file with a bad "full" and a manifest without the game.
  text = ReadBytes(Join(packed.feed, L"manifest.ini"));
  replace("name=Quenfar8.exe", "name=Game.exe");
  replace("full=files/" + DigestOf(packed.releases.v11.at("Quenfar8.exe")), "full=/files/../x");
  WriteBytes(Join(packed.feed, L"manifest.ini"), text);
  run = Check(packed.feed);
  EXPECT_TRUE(run.HasLine({"[file.2] full", "\"/files/../x\"", "remote path rule", kBadEntry})) << run.out;
  EXPECT_TRUE(run.HasLine({"no [file.N] is named exactly Quenfar8.exe", kLaunchNotListed})) << run.out;
}

// One way a feed breaks after packing, the problem check names, and the
// last line a player's updater logs for it.
struct Breakage {
  const char* what;
  void (*spoil)(const PackedFeed& packed);
  std::vector<std::string> said;
  const char* player_sees;
};

const Breakage kBreakages[] = {
    {"blob removed", [](const PackedFeed& p) { DeleteFileW(p.Blob("music.ogg").c_str()); },
     {"[file.1] full", kDownloadCheck}, kDownloadCheck},
    {"blob truncated", [](const PackedFeed& p) { WriteBytes(p.Blob("music.ogg"), "short"); },
     {"[file.1] full", kDownloadCheck}, kDownloadCheck},
    {"blob changed",
     [](const PackedFeed& p) {
       std::string bytes = ReadBytes(p.Blob("music.ogg"));
       bytes[1000] ^= 1;
       WriteBytes(p.Blob("music.ogg"), bytes);
     },
     {"[file.1] full", "its SHA-256 is", kDownloadCheck}, kDownloadCheck},
    {"patch removed", [](const PackedFeed& p) { DeleteFileW(p.DataPatch().c_str()); },
     {"[patch.0.0] path", kDownloadCheck}, kDownloadCheck},
    {"bad name in the manifest",
     [](const PackedFeed& p) {
       std::wstring manifest = Join(p.feed, L"manifest.ini");
       std::string text = ReadBytes(manifest);
       text.replace(text.find("name=music.ogg"), 14, "name=..\\music");
       WriteBytes(manifest, text);
     },
     {"[file.1] name", "\"..\\music\"", kBadEntry}, kBadEntry},
};

TEST(Check, FindsEveryBrokenFileAndTheUpdaterRefusesTheFeed) {
  for (bool over_https : {false, true}) {
    for (const Breakage& breakage : kBreakages) {
      std::string label = std::string(breakage.what) + (over_https ? " over HTTPS" : " in a folder");
      PackedFeed packed(over_https, Wide(breakage.what) + (over_https ? L"-https" : L""));
      breakage.spoil(packed);
      ToolRun run = Check(packed.Source());
      EXPECT_EQ(run.exit_code, 1u) << label << "\n" << Printed(run);
      EXPECT_TRUE(run.HasLine(breakage.said)) << label << "\n" << run.out;
      std::string what = breakage.what;
      if (over_https && (what == "blob removed" || what == "blob truncated" || what == "patch removed")) {
        EXPECT_TRUE(run.HasLine({kDownloadFailed, kDownloadCheck})) << label << "\n" << run.out;
      }
      EXPECT_EQ(run.Lines("problem: ").size(), 1u) << label << "\n" << run.out;

      bool untouched = false;
      InstallFolder::Result result = packed.UpdateOldClient(&untouched);
      EXPECT_EQ(result.outcome.exit_code, 1u) << label;
      EXPECT_TRUE(untouched) << label;
      ASSERT_FALSE(result.log.empty()) << label;
      EXPECT_EQ(result.log.back(), breakage.player_sees) << label;
    }
  }
}

TEST(Check, ShowsThePlanForAnInstallFolderAndChangesNothing) {
  PackedFeed packed;
  StampedTree before = StampedSnapshot(packed.c10);
  ToolRun run = Check(packed.feed, L"--client " + Quoted(packed.c10));
  EXPECT_EQ(run.exit_code, 0u) << Printed(run);
  std::string patch = MakeTestPatch(packed.releases.v10.at("data.pak"), packed.releases.v11.at("data.pak"));
  uint64_t fetch = patch.size() + packed.releases.v11.at("readme.txt").size() + packed.releases.v11.at("music.ogg").size();
  const std::vector<std::vector<std::string>> kPlan = {
      {"  data.pak: patch [patch.0.0] patches/" + DigestOf(patch)},
      {"  music.ogg: whole file files/" + DigestOf(packed.releases.v11.at("music.ogg"))},
      {"  Quenfar8.exe: current"},
      {"  readme.txt: whole file files/"},
      {"the updater would fetch", "in 3 files (" + std::to_string(fetch) + " bytes)"},
      {"free on the client's volume"},
  };
  for (const auto& pieces : kPlan) EXPECT_TRUE(run.HasLine(pieces)) << pieces[0] << "\n" << run.out;
  EXPECT_TRUE(StampedSnapshot(packed.c10) == before);
  EXPECT_FALSE(Exists(Join(packed.c10, L".quenfar8-update")));
}

TEST(Check, AppliesEveryPatchWhoseBaseIsAtHand) {
  PackedFeed packed;
  // In the feed folder, release 1.0's data file is the patch's base.
  ToolRun run = Check(packed.feed, L"--patch-tool " + Quoted(TestPatchTool()));
  EXPECT_EQ(run.exit_code, 0u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"[patch.0.0]: rebuilds data.pak from", "\\files\\" + DigestOf(packed.releases.v10.at("data.pak"))}))
      << run.out;
  EXPECT_TRUE(run.HasLine({"patches applied: 1; without a base file at hand: 0"})) << run.out;

  // A tool that writes other bytes than the patch asks for is caught.
  {
    ScopedEnv lie(L"QUENFAR8_TEST_PATCH_MODE", L"lie");
    run = Check(packed.feed, L"--patch-tool " + Quoted(TestPatchTool()));
    EXPECT_EQ(run.exit_code, 1u) << Printed(run);
    EXPECT_TRUE(run.HasLine({"problem: [patch.0.0]", "did not rebuild"})) << run.out;
  }

  // Over HTTPS the base comes from the served feed, or an install folder.
  PackedFeed served(true, L"https");
  run = Check(served.Source(), L"--patch-tool " + Quoted(TestPatchTool()));
  EXPECT_EQ(run.exit_code, 0u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"[patch.0.0]: rebuilds data.pak from", "base-" + DigestOf(served.releases.v10.at("data.pak"))}))
      << run.out;
  run = Check(served.Source(), L"--client " + Quoted(served.c10) + L" --patch-tool " + Quoted(TestPatchTool()));
  EXPECT_EQ(run.exit_code, 0u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"[patch.0.0]: rebuilds data.pak from " + Utf8(Join(served.c10, L"data.pak"))})) << run.out;
}

// Each way a blob can end early on every request it gets, on the second
// whole file the manifest names (music.ogg, [file.1]) of a feed on the
// loopback feed: check reports that blob and only that blob, and every
// blob after it (Quenfar8.exe, readme.txt) is fetched with one request
// and judged sound, with no retry, so nothing of the cut blob's
// connection is picked up.
TEST(Check, OverHttpsABlobCutShortOnEveryRequestIsTheOnlyProblem) {
  ScopedEnv wait(L"QUENFAR8_TEST_RETRY_MS", L"50");
  struct {
    const char* what;
    const char* control;
  } const cases[] = {
      {"a clean close half-way", "cutclean 15000"},
      {"a reset half-way", "cut 15000"},
      {"a Content-Length shorter than the body", "long 1000"},
  };
  TestFeed served;
  ASSERT_TRUE(served.Load()) << "the loopback feed is not running";
  SampleReleases releases;
  std::wstring root = FreshTestFolder(L"cut-blob");
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1");
  std::string name = "check-cut-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  std::wstring feed = served.Folder(name);
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  ASSERT_EQ(Pack(c10, feed, L"--version 1.0").exit_code, 0u);
  ASSERT_EQ(Pack(c11, feed, L"--version 1.1 " + From(c10)).exit_code, 0u);
  auto blob_path = [&](const char* file) { return "/" + name + "/files/" + DigestOf(releases.v11.at(file)); };
  const std::string cut = blob_path("music.ogg");
  const std::string after[] = {blob_path("Quenfar8.exe"), blob_path("readme.txt")};

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    served.Control(cut, c.control);
    size_t cut_before = served.Gets(cut).size();
    size_t after_before[2] = {served.Gets(after[0]).size(), served.Gets(after[1]).size()};
    ToolRun run = RunConsoleProgram(TestReleaseToolExe(), L"check " + Quoted(Wide(served.Url(name))));
    served.Control(cut, "");

    EXPECT_EQ(run.exit_code, 1u) << Printed(run);
    EXPECT_EQ(run.Lines("problem: ").size(), 1u) << run.out;
    EXPECT_TRUE(run.HasLine({"problem: files/" + DigestOf(releases.v11.at("music.ogg")), "[file.1] full",
                             kDownloadFailed, kDownloadCheck}))
        << run.out;
    EXPECT_TRUE(run.HasLine({"manifest.ini: 4 files; 5 files and patches named"})) << run.out;
    EXPECT_FALSE(run.HasLine({"arrived only after"})) << run.out;
    EXPECT_EQ(served.Gets(cut).size() - cut_before, size_t(ATTEMPTS_PER_FILE));
    for (int i = 0; i < 2; ++i) {
      std::vector<std::string> gets = served.Gets(after[i]);
      EXPECT_EQ(std::vector<std::string>(gets.begin() + after_before[i], gets.end()),
                (std::vector<std::string>{"- - 200"}))
          << after[i];
    }
  }
  // The same feed, asked once more without a cut, has no problem.
  ToolRun run = RunConsoleProgram(TestReleaseToolExe(), L"check " + Quoted(Wide(served.Url(name))));
  EXPECT_EQ(run.exit_code, 0u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"no problems"})) << run.out;
}

// A file of 2,147,483,647 bytes or more is noted (Wine ends every body
// there), one byte less is not; the note is no problem, only the size the
// feed's file does not have is.
TEST(Check, NotesAFileTheDefaultUpdaterCannotFetchUnderWine) {
  struct {
    const char* size;
    bool noted;
  } const cases[] = {{"2147483647", true}, {"5000000000", true}, {"2147483646", false}};
  PackedFeed packed;
  const std::wstring manifest = Join(packed.feed, L"manifest.ini");
  const std::string original = ReadBytes(manifest);
  const std::string music = "files/" + DigestOf(packed.releases.v11.at("music.ogg"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    std::string text = original;
    size_t at = text.find("size=30000\r\n");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 10, std::string("size=") + c.size);
    WriteBytes(manifest, text);
    ToolRun run = Check(packed.feed);
    EXPECT_EQ(run.exit_code, 1u) << Printed(run);
    EXPECT_EQ(run.Lines("problem: ").size(), 1u) << run.out;
    EXPECT_TRUE(run.HasLine({"problem: " + music, "30000 bytes, the manifest says " + std::string(c.size)})) << run.out;
    EXPECT_EQ(run.HasLine({"note: " + music, std::string(c.size) + " bytes", "cannot fetch", "under Wine",
                           "network=resilient"}),
              c.noted)
        << run.out;
  }
  WriteBytes(manifest, original);
}

TEST(Check, AFeedWithoutItsManifest) {
  std::wstring folder = FreshTestFolder();
  ToolRun run = Check(folder);
  EXPECT_EQ(run.exit_code, 1u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"problem: manifest.ini", kNoPackageFile})) << run.out;

  NginxFeed server;
  ASSERT_TRUE(server.Load());
  run = Check(Wide(server.Url("no-such-feed")));
  EXPECT_EQ(run.exit_code, 1u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"problem: manifest.ini", kDownloadFailed})) << run.out;
}

}  // namespace
