// The release tool's pack command on real folders: the feed it writes, what
// it refuses, the patches it makes, and the updater updating from the result.
#include <gtest/gtest.h>

#include "support/messages.h"
#include "tests/release/publishing.h"

namespace {

// The files of a client that the updater owns and pack passes over.
void AddUpdaterFiles(const std::wstring& client) {
  WriteBytes(Join(client, L"Quenfar8Updater.exe"), "the updater");
  WriteBytes(Join(client, L"quenfar8updater.ini"), "[updater]\r\nfeed=\r\n");
  WriteBytes(Join(client, L"hpatchz.exe"), "the patch tool");
  MakeFolder(Join(client, L".quenfar8-update"));
  WriteBytes(Join(client, L".quenfar8-update\\updater.lock"), "");
}

TEST(Pack, PublishesAClientAsAContentAddressedFeed) {
  std::wstring root = FreshTestFolder();
  std::wstring client = Join(root, L"client"), feed = Join(root, L"feed");
  SampleReleases releases;
  ClientFiles files = releases.v11;
  files["Copy-of-data.pak"] = files["data.pak"];  // the same bytes are stored once
  WriteClient(client, files);
  AddUpdaterFiles(client);

  ToolRun run = Pack(client, feed, L"--version 1.1");
  ASSERT_EQ(run.exit_code, 0u) << Printed(run);
  EXPECT_EQ(ReadBytes(Join(feed, L"manifest.ini")), ExpectedManifest(files, "1.1"));
  std::vector<std::string> blobs;
  for (const auto& file : files) {
    std::wstring blob = Join(feed, L"files\\" + Wide(DigestOf(file.second)));
    EXPECT_EQ(ReadBytes(blob), file.second) << file.first;
    blobs.push_back(DigestOf(file.second));
  }
  std::sort(blobs.begin(), blobs.end());
  blobs.erase(std::unique(blobs.begin(), blobs.end()), blobs.end());
  EXPECT_EQ(Entries(Join(feed, L"files")), blobs);
  EXPECT_EQ(Entries(feed), (std::vector<std::string>{"files", "history", "manifest.ini", "patches"}));
  EXPECT_TRUE(Entries(Join(feed, L"patches")).empty());
  EXPECT_TRUE(run.HasLine({"release: 5 files"})) << run.out;

  // A player's updater takes the feed as it is: an empty install folder
  // becomes the release.
  InstallFolder install(Join(root, L"install"));
  InstallFolder::Result result = install.Update(L"/quiet /package " + Quoted(feed));
  ASSERT_EQ(result.outcome.exit_code, 0u);
  for (const auto& file : files) EXPECT_EQ(ReadBytes(install.Path(Wide(file.first))), file.second) << file.first;
  EXPECT_EQ(result.log.back(), kReady);
}

TEST(Pack, TheSameInputsWriteNothingNewAndOldBlobsStay) {
  std::wstring root = FreshTestFolder();
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  SampleReleases releases;
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  ASSERT_EQ(Pack(c10, feed, L"--version 1.0").exit_code, 0u);
  StampedTree release10 = StampedSnapshot(feed);

  ASSERT_EQ(Pack(c11, feed, L"--version 1.1 " + From(c10)).exit_code, 0u);
  StampedTree release11 = StampedSnapshot(feed);
  // Publishing 1.1 changed no blob of 1.0: a client still fetching 1.0's
  // files gets the bytes it expects.
  for (const auto& entry : release10) {
    if (entry.first == "manifest.ini") continue;
    ASSERT_TRUE(release11.count(entry.first)) << entry.first;
    EXPECT_TRUE(release11[entry.first] == entry.second) << entry.first;
  }

  ToolRun again = Pack(c11, feed, L"--version 1.1 " + From(c10));
  ASSERT_EQ(again.exit_code, 0u) << Printed(again);
  EXPECT_TRUE(again.HasLine({"0 new blobs, manifest.ini unchanged"})) << again.out;
  StampedTree after = StampedSnapshot(feed);
  EXPECT_TRUE(after == release11);
  EXPECT_EQ(Entries(feed), (std::vector<std::string>{"files", "history", "manifest.ini", "patches"}));
}

// A client folder that breaks one rule of the updater, and what pack says.
struct Refusal {
  const char* what;
  void (*spoil)(const std::wstring& client);
  std::vector<std::string> said;  // pieces of the problem line
};

const Refusal kRefusals[] = {
    {"subfolder", [](const std::wstring& c) { MakeFolder(Join(c, L"maps")); }, {"maps", "subfolder"}},
    {"device name", [](const std::wstring& c) { WriteUnixFile(c, L"con.txt", "x"); }, {"con.txt", "device name"}},
    {"trailing dot", [](const std::wstring& c) { WriteUnixFile(c, L"notes.", "x"); }, {"notes.", "end with '.'"}},
    {"two dots", [](const std::wstring& c) { WriteBytes(Join(c, L"a..b"), "x"); }, {"a..b", "\"..\""}},
    {"space", [](const std::wstring& c) { WriteBytes(Join(c, L"my file.txt"), "x"); }, {"my file.txt", "A-Z a-z"}},
    {"long name", [](const std::wstring& c) { WriteBytes(Join(c, std::wstring(121, L'n')), "x"); }, {"1 to 120"}},
    {"no game", [](const std::wstring& c) { DeleteFileW(Join(c, L"Quenfar8.exe").c_str()); }, {"no Quenfar8.exe"}},
    {"game in other case",
     [](const std::wstring& c) {
       DeleteFileW(Join(c, L"Quenfar8.exe").c_str());
       WriteUnixFile(c, L"QUENFAR8.EXE", "game");
     },
     {"QUENFAR8.EXE", "exactly Quenfar8.exe"}},
    // Wine shows a link to a file as the file itself; a link to a folder
    // shows as a link.
    {"link",
     [](const std::wstring& c) {
       MakeFolder(Join(c, L"..\\maps"));
       ASSERT_TRUE(MakeUnixLink(Join(c, L"..\\maps"), Join(c, L"maps")));
     },
     {"maps", "a link"}},
    {"129 files",
     [](const std::wstring& c) {
       for (int i = 0; i < 126; ++i) WriteBytes(Join(c, L"f" + std::to_wstring(i)), "x");
     },
     {"129 files", "at most 128"}},
    {"feed inside the client", nullptr, {"inside the client folder"}},
};

TEST(Pack, RefusesWhatTheUpdaterCouldNotInstallAndWritesNothing) {
  for (const Refusal& refusal : kRefusals) {
    std::wstring root = FreshTestFolder(Wide(refusal.what));
    std::wstring client = Join(root, L"client");
    std::wstring feed = refusal.spoil ? Join(root, L"feed") : Join(client, L"feed");
    SampleReleases releases;
    WriteClient(client, releases.v10);
    if (refusal.spoil) refusal.spoil(client);
    ToolRun run = Pack(client, feed);
    EXPECT_EQ(run.exit_code, 1u) << refusal.what << "\n" << Printed(run);
    EXPECT_TRUE(run.HasLine(refusal.said)) << refusal.what << "\n" << run.out;
    EXPECT_TRUE(run.HasLine({"nothing was written"})) << refusal.what;
    EXPECT_FALSE(Exists(feed)) << refusal.what;
  }
}

TEST(Pack, ListsEveryRefusedFileInOneRun) {
  std::wstring root = FreshTestFolder();
  std::wstring client = Join(root, L"client"), feed = Join(root, L"feed");
  WriteClient(client, {{"data.pak", "x"}, {"-ok-", "x"}});
  WriteUnixFile(client, L"NUL.dat", "x");
  WriteUnixFile(client, L"x.", "x");
  MakeFolder(Join(client, L"sub"));
  ToolRun run = Pack(client, feed);
  EXPECT_EQ(run.exit_code, 1u);
  EXPECT_EQ(run.Lines("problem: ").size(), 4u) << run.out;
  for (const char* named : {"NUL.dat", "x.", "sub", "no Quenfar8.exe"}) EXPECT_TRUE(run.HasLine({named})) << named;
  EXPECT_FALSE(Exists(feed));
}

TEST(Pack, RefusesNamesEqualButForCase) {
  // Only the build machine's own file system can hold both names.
  std::wstring root = FreshTestFolder();
  std::wstring client = Join(root, L"client");
  SampleReleases releases;
  WriteClient(client, releases.v10);
  WriteUnixFile(client, L"Data.PAK", "another data file");
  ToolRun run = Pack(client, Join(root, L"feed"));
  EXPECT_EQ(run.exit_code, 1u);
  EXPECT_TRUE(run.HasLine({"Data.PAK", "data.pak", "equal but for case"})) << run.out;
}

TEST(Pack, MakesPatchesForOlderReleasesAsTheUpdaterChoosesThem) {
  std::wstring root = FreshTestFolder();
  std::wstring c10 = Join(root, L"1.0"), c10b = Join(root, L"1.0-hotfix"), c11 = Join(root, L"1.1");
  std::wstring feed = Join(root, L"feed"), record = Join(root, L"differ.log");
  SampleReleases releases;
  ClientFiles hotfix = releases.v10;
  hotfix["data.pak"].replace(5, 3, "FIX");
  WriteClient(c10, releases.v10);
  WriteClient(c10b, hotfix);
  WriteClient(c11, releases.v11);
  // A second older client with the same data file as 1.0 gets no patch of
  // its own: the first folder's patch serves both.
  std::wstring c10copy = Join(root, L"1.0-copy");
  WriteClient(c10copy, releases.v10);

  ScopedEnv recording(L"QUENFAR8_TEST_DIFF_RECORD", record);
  ToolRun run = Pack(c11, feed,
                     L"--version 1.1 " + From(c10) + L" --from " + Quoted(c10b) + L" --from " + Quoted(c10copy) +
                         L" --diff-args \"-m-6 -SD\"");
  ASSERT_EQ(run.exit_code, 0u) << Printed(run);

  const std::string& data11 = releases.v11.at("data.pak");
  std::map<std::string, std::vector<ExpectedPatch>> patches = {
      {"data.pak",
       {{releases.v10.at("data.pak"), MakeTestPatch(releases.v10.at("data.pak"), data11)},
        {hotfix.at("data.pak"), MakeTestPatch(hotfix.at("data.pak"), data11)}}}};
  EXPECT_EQ(ReadBytes(Join(feed, L"manifest.ini")), ExpectedManifest(releases.v11, "1.1", patches));
  for (const ExpectedPatch& patch : patches["data.pak"]) {
    EXPECT_EQ(ReadBytes(Join(feed, L"patches\\" + Wide(DigestOf(patch.bytes)))), patch.bytes);
  }
  // The readme's patch would be as large as the readme: dropped, said so.
  EXPECT_TRUE(run.HasLine({"note: ", "readme.txt", "not smaller"})) << run.out;

  // The differ ran with the arguments before its three paths; the new file
  // it read is the copy made for the store, whose bytes were hashed, not
  // the client's file, which could have changed since.
  std::vector<std::string> calls = CrLfLines(ReadBytes(record));
  // data.pak and readme.txt from 1.0, data.pak from the hotfix; its readme
  // is 1.0's, already tried.
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_NE(calls[0].find("\" -m-6 -SD \""), std::string::npos) << calls[0];
  EXPECT_NE(calls[0].find("\" \"" + Utf8(feed) + "\\"), std::string::npos) << calls[0];
  EXPECT_EQ(calls[0].find(Utf8(c11)), std::string::npos) << calls[0];

  // What clients of each older release download: the data patch, and the
  // readme and music whole.
  uint64_t total = 0;
  for (const auto& file : releases.v11) total += file.second.size();
  uint64_t by_patch = patches["data.pak"][0].bytes.size() + releases.v11.at("readme.txt").size() +
                      releases.v11.at("music.ogg").size();
  EXPECT_TRUE(run.HasLine({"release: 4 files", "(" + std::to_string(total) + " bytes)"})) << run.out;
  EXPECT_TRUE(run.HasLine({"clients of", "1.0:", "(" + std::to_string(by_patch) + " bytes) of " +
                                                     std::to_string(total) + " bytes",
                           "1 current, 1 by patch, 2 whole"}))
      << run.out;

  // A 1.0 client updates through the patch.
  InstallFolder install(Join(root, L"install"));
  WriteClient(install.dir(), releases.v10);
  ASSERT_TRUE(CopyFileW(TestPatchTool().c_str(), install.Path(L"hpatchz.exe").c_str(), FALSE));
  InstallFolder::Result result = install.Update(L"/quiet /package " + Quoted(feed));
  ASSERT_EQ(result.outcome.exit_code, 0u);
  for (const auto& file : releases.v11) EXPECT_EQ(ReadBytes(install.Path(Wide(file.first))), file.second);
  EXPECT_NE(std::find(result.log.begin(), result.log.end(), std::string("변경분 받는 중: data.pak")), result.log.end());
}

TEST(Pack, AtMostThirtyTwoPatchesPerFileTheFirstFoldersWin) {
  std::wstring root = FreshTestFolder();
  std::wstring client = Join(root, L"new"), feed = Join(root, L"feed");
  std::string target = Filler(5000, 3);
  WriteClient(client, {{"Quenfar8.exe", "game"}, {"data.pak", target}});
  std::wstring from;
  std::vector<ExpectedPatch> expected;
  for (int i = 0; i < 33; ++i) {
    std::string old = target;
    old.replace(size_t(i) * 100, 4, "OLD" + std::string(1, char('A' + i % 26)));
    std::wstring folder = Join(root, L"old-" + std::to_wstring(i));
    WriteClient(folder, {{"Quenfar8.exe", "game"}, {"data.pak", old}});
    from += (i == 0 ? From(folder) : L" --from " + Quoted(folder)) + L" ";
    if (i < 32) expected.push_back({old, MakeTestPatch(old, target)});
  }
  ToolRun run = Pack(client, feed, from);
  ASSERT_EQ(run.exit_code, 0u) << Printed(run);
  EXPECT_EQ(ReadBytes(Join(feed, L"manifest.ini")),
            ExpectedManifest({{"Quenfar8.exe", "game"}, {"data.pak", target}}, "", {{"data.pak", expected}}));
  EXPECT_TRUE(run.HasLine({"note: ", "data.pak", "32 patches", "old-32"})) << run.out;
}

// A differ or a patch that lets the release down: pack publishes nothing.
struct BadPatch {
  const char* mode;               // QUENFAR8_TEST_DIFF_MODE
  bool prove;                     // with --patch-tool
  std::vector<std::string> said;  // pieces of the problem line
};

const BadPatch kBadPatches[] = {
    {"fail", false, {"data.pak from", "exit code 9"}},
    {"nothing", false, {"data.pak from", "wrote no patch"}},
    {"empty", false, {"data.pak from", "wrote an empty patch"}},
    {"lie", true, {"data.pak from", "did not rebuild"}},
};

TEST(Pack, ABadPatchPublishesNothing) {
  for (const BadPatch& bad : kBadPatches) {
    std::wstring root = FreshTestFolder(Wide(bad.mode));
    std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
    SampleReleases releases;
    WriteClient(c10, releases.v10);
    WriteClient(c11, releases.v11);
    ASSERT_EQ(Pack(c10, feed).exit_code, 0u);
    StampedTree before = StampedSnapshot(feed);

    ScopedEnv mode(L"QUENFAR8_TEST_DIFF_MODE", Wide(bad.mode));
    std::wstring more = From(c10) + (bad.prove ? L" --patch-tool " + Quoted(TestPatchTool()) : L"");
    ToolRun run = Pack(c11, feed, more);
    EXPECT_EQ(run.exit_code, 1u) << bad.mode << "\n" << Printed(run);
    EXPECT_TRUE(run.HasLine(bad.said)) << bad.mode << "\n" << run.out;
    EXPECT_TRUE(run.HasLine({"not published", "manifest.ini is unchanged"})) << bad.mode;
    EXPECT_TRUE(StampedSnapshot(feed) == before) << bad.mode;
    EXPECT_EQ(Entries(feed), (std::vector<std::string>{"files", "history", "manifest.ini", "patches"})) << bad.mode;
  }
}

TEST(Pack, TheReleasedPatchesPassTheirProof) {
  std::wstring root = FreshTestFolder();
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  std::wstring record = Join(root, L"tool.log");
  SampleReleases releases;
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  ScopedEnv recording(L"QUENFAR8_TEST_PATCH_RECORD", record);
  ToolRun run = Pack(c11, feed, From(c10) + L" --patch-tool " + Quoted(TestPatchTool()));
  ASSERT_EQ(run.exit_code, 0u) << Printed(run);
  // The tool ran once, for the one patch kept, with the updater's command
  // line; the test tool is not the build the released updater pins.
  std::vector<std::string> calls = CrLfLines(ReadBytes(record));
  ASSERT_EQ(calls.size(), 2u);  // the command line and the current folder
  EXPECT_NE(calls[0].find("\" -s-8m \"" + Utf8(Join(c10, L"data.pak")) + "\" \""), std::string::npos) << calls[0];
  EXPECT_TRUE(run.HasLine({"note: ", "not the hpatchz.exe build"})) << run.out;
}

TEST(Pack, AFileThatChangesWhileItIsPackedIsRefused) {
  std::wstring root = FreshTestFolder();
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  SampleReleases releases;
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  // The differ runs after the files were read; it changes one behind the
  // tool's back, as a build still writing the client would.
  ScopedEnv touch(L"QUENFAR8_TEST_DIFF_TOUCH", Join(c11, L"music.ogg"));
  ToolRun run = Pack(c11, feed, From(c10));
  EXPECT_EQ(run.exit_code, 1u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"problem: ", "music.ogg", "changed while it was packed"})) << run.out;
  EXPECT_FALSE(Exists(Join(feed, L"manifest.ini")));
  EXPECT_FALSE(Exists(feed));
}

TEST(Pack, AnOlderClientThatChangesWhileItIsPackedIsRefused) {
  std::wstring root = FreshTestFolder();
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  SampleReleases releases;
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  // The older readme changes after it was hashed, while the data file is
  // diffed: its patch would carry a base digest of bytes no client has.
  ScopedEnv touch(L"QUENFAR8_TEST_DIFF_TOUCH", Join(c10, L"readme.txt"));
  ToolRun run = Pack(c11, feed, From(c10) + L" --patch-tool " + Quoted(TestPatchTool()));
  EXPECT_EQ(run.exit_code, 1u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"problem: ", Utf8(Join(c10, L"readme.txt")), "changed while it was packed"})) << run.out;
  EXPECT_FALSE(Exists(feed));
}

TEST(Pack, CommandLinesItDoesNotUnderstand) {
  std::wstring root = FreshTestFolder();
  std::wstring client = Join(root, L"client");
  SampleReleases releases;
  WriteClient(client, releases.v10);
  std::wstring feed = Quoted(Join(root, L"feed")), c = Quoted(client);
  const std::wstring kLines[] = {
      L"",
      L"publish " + c + L" " + feed,
      L"pack",
      L"pack " + c,
      L"pack " + c + L" " + feed + L" extra",
      L"pack " + c + L" " + feed + L" --from " + c,
      L"pack " + c + L" " + feed + L" --diff-args -x",
      L"pack " + c + L" " + feed + L" --version",
      L"pack " + c + L" " + feed + L" --version 1 --version 2",
      L"pack " + c + L" " + feed + L" --fast",
      L"check",
      L"check " + feed + L" " + feed,
      L"check " + feed + L" --client",
      L"check http://localhost/feed/",
      L"check https://localhost/feed",
  };
  for (const std::wstring& line : kLines) {
    ToolRun run = RunReleaseTool(line);
    EXPECT_EQ(run.exit_code, 2u) << Utf8(line) << "\n" << Printed(run);
    EXPECT_FALSE(run.err.empty()) << Utf8(line);
  }
  EXPECT_FALSE(Exists(Join(root, L"feed")));
}

TEST(Pack, AVersionTheManifestCannotCarryIsRefused) {
  std::wstring root = FreshTestFolder();
  std::wstring client = Join(root, L"client");
  SampleReleases releases;
  WriteClient(client, releases.v10);
  for (const wchar_t* version : {L"\" 1.0\"", L"\"'1.0'\"", L"1234567890123456789012345678901234567890123456789012345678901234567890"}) {
    ToolRun run = Pack(client, Join(root, L"feed"), std::wstring(L"--version ") + version);
    EXPECT_EQ(run.exit_code, 1u) << Utf8(version);
    EXPECT_TRUE(run.HasLine({"problem: ", "--version"})) << run.out;
  }
  EXPECT_FALSE(Exists(Join(root, L"feed")));
}

}  // namespace
