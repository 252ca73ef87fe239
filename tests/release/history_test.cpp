// A feed's release history with the real release tool and the real
// updater: three releases packed with a history and listed; rollback of an
// unsigned and of a signed feed, with clients of each release following
// over nginx; prune, dry and for real, on a feed nginx serves, with clients
// of kept and of pruned releases still updating; and what prune and
// rollback refuse.
#include <gtest/gtest.h>

#include "support/messages.h"
#include "support/nginx_feed.h"
#include "tests/release/history.h"

#if !defined(QF8_SIGNED_UPDATER) || !defined(QF8_TEST_SIGNING_KEY) || !defined(QF8_TEST_PUBLIC_KEY)
#error "the build must name the signed test updater and its key"
#endif

namespace {

std::wstring SignedUpdaterExe() { return WindowsPath(QF8_SIGNED_UPDATER); }
std::wstring SigningKey() { return WindowsPath(QF8_TEST_SIGNING_KEY); }
std::string PublicKey() { return ReadBytes(WindowsPath(QF8_TEST_PUBLIC_KEY)); }

ToolRun History(const std::wstring& feed) { return RunReleaseTool(L"history " + Quoted(feed)); }
ToolRun Rollback(const std::wstring& feed, const std::wstring& more) {
  return RunReleaseTool(L"rollback " + Quoted(feed) + L" " + more);
}
ToolRun Prune(const std::wstring& feed, const std::wstring& more) {
  return RunReleaseTool(L"prune " + Quoted(feed) + L" " + more);
}

uint64_t TotalBytes(const ClientFiles& files) {
  uint64_t total = 0;
  for (const auto& file : files) total += file.second.size();
  return total;
}

// Bytes of the files of `files` whose bytes `before` does not have, each
// digest once.
uint64_t NewFileBytes(const ClientFiles& files, const ClientFiles& before) {
  std::set<std::string> had, counted;
  for (const auto& file : before) had.insert(DigestOf(file.second));
  uint64_t bytes = 0;
  for (const auto& file : files) {
    std::string digest = DigestOf(file.second);
    if (had.count(digest) == 0 && counted.insert(digest).second) bytes += file.second.size();
  }
  return bytes;
}

// Bytes of the patches that are in `after` and not in `before`.
uint64_t NewPatchBytes(const std::wstring& feed, const std::set<std::wstring>& after,
                       const std::set<std::wstring>& before) {
  uint64_t bytes = 0;
  for (const std::wstring& name : after) {
    if (before.count(name) == 0) bytes += ReadBytes(Join(feed, L"patches\\" + name)).size();
  }
  return bytes;
}

// A client of a release on a feed address, with the test patch tool.
std::unique_ptr<InstallFolder> ClientOf(const std::wstring& dir, const ClientFiles& files, const std::string& url,
                                        const std::wstring& updater = TestUpdaterExe()) {
  std::unique_ptr<InstallFolder> client(new InstallFolder(dir, updater));
  WriteClient(dir, files);
  EXPECT_TRUE(CopyFileW(TestPatchTool().c_str(), client->Path(L"hpatchz.exe").c_str(), FALSE));
  client->WriteFeed(url);
  return client;
}

// Runs the client's updater and expects it to end with every file of the
// release.
void ExpectUpdatesTo(const InstallFolder& client, const ClientFiles& release, const std::string& label) {
  InstallFolder::Result result = client.Update(L"/quiet");
  ASSERT_EQ(result.outcome.exit_code, 0u) << label << ": " << (result.log.empty() ? "" : result.log.back());
  for (const auto& file : release) {
    EXPECT_EQ(ReadBytes(client.Path(Wide(file.first))), file.second) << label << ": " << file.first;
  }
}

// A feed folder below nginx's root, named for this run.
struct ServedFeed {
  NginxFeed server;
  std::string name, url;
  std::wstring folder;
  bool Load(const std::string& stem) {
    if (!server.Load()) return false;
    name = stem + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    folder = server.Folder(name);
    url = server.Url(name);
    return true;
  }
};

TEST(History, ThreeReleasesAreRecordedAndListed) {
  std::wstring root = FreshTestFolder();
  ThreeReleases three(root, Join(root, L"feed"));
  ASSERT_TRUE(three.Packed()) << three.Printed();
  const std::wstring& feed = three.feed;
  // Every pack left an exact copy of the manifest it published, before the
  // next one replaced it.
  EXPECT_TRUE(three.packs[0].HasLine({"manifest.ini written", "history entry 1"})) << three.packs[0].out;
  EXPECT_TRUE(three.packs[2].HasLine({"manifest.ini written", "history entry 3"})) << three.packs[2].out;
  EXPECT_EQ(ReadBytes(HistoryEntry(feed, 1)), ExpectedManifest(three.sample.v10, "1.0"));
  EXPECT_EQ(ReadBytes(HistoryEntry(feed, 3)), ReadBytes(Join(feed, L"manifest.ini")));
  EXPECT_EQ(Entries(Join(feed, L"history")), (std::vector<std::string>{"000001.ini", "000002.ini", "000003.ini"}));

  // Packing the live release again writes nothing and adds no entry.
  StampedTree before = StampedSnapshot(feed);
  ToolRun again = Pack(three.c12, feed, L"--version 1.2 " + From(three.c11));
  EXPECT_EQ(again.exit_code, 0u) << Printed(again);
  EXPECT_TRUE(again.HasLine({"0 new blobs, manifest.ini unchanged"})) << again.out;
  EXPECT_TRUE(StampedSnapshot(feed) == before);

  ToolRun listed = History(feed);
  ASSERT_EQ(listed.exit_code, 0u) << Printed(listed);
  EXPECT_TRUE(listed.HasLine({"history of", "3 entries"})) << listed.out;
  const ClientFiles* releases[] = {&three.sample.v10, &three.sample.v11, &three.v12};
  const ClientFiles none;
  const std::set<std::wstring> no_patches;
  for (int n = 1; n <= 3; ++n) {
    const ClientFiles& files = *releases[n - 1];
    uint64_t fresh = NewFileBytes(files, n == 1 ? none : *releases[n - 2]) +
                     NewPatchBytes(feed, three.patches_after[n - 1], n == 1 ? no_patches : three.patches_after[n - 2]);
    std::string line_start = std::to_string(n) + ": version 1." + std::to_string(n - 1) + ", " +
                             std::to_string(files.size()) + " files, ";
    EXPECT_TRUE(listed.HasLine({line_start, "(" + std::to_string(TotalBytes(files)) + " bytes), new ",
                                "(" + std::to_string(fresh) + " bytes)"}))
        << "entry " << n << ": new " << fresh << "\n" << listed.out;
  }
  EXPECT_TRUE(listed.HasLine({"3: version 1.2", ", live"})) << listed.out;
  EXPECT_FALSE(listed.HasLine({"1: version 1.0", ", live"})) << listed.out;

  // check: every blob is named by some kept release, so nothing to report.
  ToolRun checked = Check(feed);
  EXPECT_EQ(checked.exit_code, 0u) << Printed(checked);
  EXPECT_FALSE(checked.HasLine({"no kept release names it"})) << checked.out;
  // A blob nothing names is information, not a problem.
  std::string stray = "a blob of a pack that never published";
  WriteBytes(Join(feed, L"files\\" + Wide(DigestOf(stray))), stray);
  checked = Check(feed);
  EXPECT_EQ(checked.exit_code, 0u) << Printed(checked);
  EXPECT_TRUE(checked.HasLine({"note: files/" + DigestOf(stray), "no kept release names it"})) << checked.out;
}

TEST(History, StartedOnAFeedThatHasAReleaseRecordsThatOneFirst) {
  std::wstring root = FreshTestFolder();
  SampleReleases sample;
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  WriteClient(c10, sample.v10);
  WriteClient(c11, sample.v11);
  ASSERT_EQ(Pack(c10, feed, L"--version 1.0").exit_code, 0u);
  // A feed packed before the tool kept a history.
  RemoveTree(Join(feed, L"history"));
  std::string live10 = ReadBytes(Join(feed, L"manifest.ini"));
  ToolRun started = Pack(c11, feed, L"--version 1.1");
  ASSERT_EQ(started.exit_code, 0u) << Printed(started);
  EXPECT_EQ(ReadBytes(HistoryEntry(feed, 1)), live10);
  EXPECT_EQ(ReadBytes(HistoryEntry(feed, 2)), ReadBytes(Join(feed, L"manifest.ini")));
  // Kept from now on.
  ASSERT_EQ(Pack(c10, feed, L"--version 1.0").exit_code, 0u);
  EXPECT_EQ(ReadBytes(HistoryEntry(feed, 3)), live10);
}

TEST(Rollback, UnsignedFeedGoesBackAndClientsOfNewerReleasesFollow) {
  ServedFeed served;
  ASSERT_TRUE(served.Load("rollback")) << "the nginx fixture is not running";
  std::wstring root = FreshTestFolder();
  ThreeReleases three(root, served.folder);
  ASSERT_TRUE(three.Packed()) << three.Printed();
  const std::wstring& feed = three.feed;

  ToolRun run = Rollback(feed, L"--to 1");
  ASSERT_EQ(run.exit_code, 0u) << Printed(run);
  std::string entry1 = ReadBytes(HistoryEntry(feed, 1));
  EXPECT_EQ(ReadBytes(Join(feed, L"manifest.ini")), entry1);
  EXPECT_EQ(ReadBytes(HistoryEntry(feed, 4)), entry1);
  EXPECT_TRUE(run.HasLine({"history entry 1 (version 1.0) is live again as history entry 4"})) << run.out;
  // What clients of 1.2 fetch: the data file and the readme whole (no
  // patch of 1.0 starts from 1.2's files), the game already current.
  uint64_t download = three.sample.v10.at("data.pak").size() + three.sample.v10.at("readme.txt").size();
  EXPECT_TRUE(run.HasLine({"clients of the release live until now (version 1.2)",
                           "(" + std::to_string(download) + " bytes)", "1 current, 0 by patch, 2 whole"}))
      << run.out;
  ToolRun listed = History(feed);
  EXPECT_TRUE(listed.HasLine({"4: version 1.0", ", live"})) << listed.out;

  // Clients of 1.2 and 1.1 go to 1.0's files.
  std::unique_ptr<InstallFolder> of12 = ClientOf(Join(root, L"client-1.2"), three.v12, served.url);
  std::unique_ptr<InstallFolder> of11 = ClientOf(Join(root, L"client-1.1"), three.sample.v11, served.url);
  ExpectUpdatesTo(*of12, three.sample.v10, "client of 1.2");
  ExpectUpdatesTo(*of11, three.sample.v10, "client of 1.1");

  // The same entry again: it is live already, nothing is written.
  StampedTree before = StampedSnapshot(feed);
  ToolRun again = Rollback(feed, L"--to 1");
  EXPECT_EQ(again.exit_code, 0u) << Printed(again);
  EXPECT_TRUE(again.HasLine({"is live already"})) << again.out;
  EXPECT_TRUE(StampedSnapshot(feed) == before);
  // And forward again to 1.2, from history.
  ASSERT_EQ(Rollback(feed, L"--to 3").exit_code, 0u);
  ExpectUpdatesTo(*of12, three.v12, "client of 1.0, forward to 1.2");
}

TEST(Rollback, SignedFeedGoesForwardInSerialToTheOldFiles) {
  ServedFeed served;
  ASSERT_TRUE(served.Load("rollback-signed")) << "the nginx fixture is not running";
  std::wstring root = FreshTestFolder();
  const std::wstring sign = L"--sign " + Quoted(SigningKey());
  ThreeReleases three(root, served.folder, sign);
  ASSERT_TRUE(three.Packed()) << three.Printed();
  const std::wstring& feed = three.feed;

  // Clients of 1.2 and 1.1 with the keyed updater; the 1.2 one has taken
  // serial 3 already.
  std::unique_ptr<InstallFolder> of12 = ClientOf(Join(root, L"client-1.2"), three.v12, served.url, SignedUpdaterExe());
  std::unique_ptr<InstallFolder> of11 =
      ClientOf(Join(root, L"client-1.1"), three.sample.v11, served.url, SignedUpdaterExe());
  ExpectUpdatesTo(*of12, three.v12, "client of 1.2 at 1.2");
  EXPECT_EQ(ReadBytes(Join(of12->WorkFolder(), L"release.serial")), "3");

  // Refused without the key, and with a serial that is not above the live one.
  StampedTree before = StampedSnapshot(feed);
  ToolRun unsigned_run = Rollback(feed, L"--to 1");
  EXPECT_EQ(unsigned_run.exit_code, 1u) << Printed(unsigned_run);
  EXPECT_TRUE(unsigned_run.HasLine({"problem: ", "signed", "--sign"})) << unsigned_run.out;
  ToolRun low = Rollback(feed, L"--to 1 " + sign + L" --serial 3");
  EXPECT_EQ(low.exit_code, 1u) << Printed(low);
  EXPECT_TRUE(low.HasLine({"problem: --serial 3", "serial 3"})) << low.out;
  EXPECT_TRUE(StampedSnapshot(feed) == before);

  ToolRun run = Rollback(feed, L"--to 1 " + sign);
  ASSERT_EQ(run.exit_code, 0u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"live again as history entry 4", "signed, serial 4"})) << run.out;
  std::string live = ReadBytes(Join(feed, L"manifest.ini"));
  EXPECT_EQ(ReadBytes(HistoryEntry(feed, 4)), live);
  // The same release as entry 1 but for the serial and the signature.
  std::string entry1 = ReadBytes(HistoryEntry(feed, 1));
  std::string body1 = entry1.substr(0, entry1.size() - 141), body = live.substr(0, live.size() - 141);
  size_t at = body1.find("serial=1\r\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(body, body1.substr(0, at) + "serial=4\r\n" + body1.substr(at + 10));
  ToolRun checked = Check(Wide(served.url), L"--public-key " + Wide(PublicKey()));
  EXPECT_EQ(checked.exit_code, 0u) << Printed(checked);
  EXPECT_TRUE(checked.HasLine({"manifest.ini: serial 4"})) << checked.out;

  // The keyed updaters go forward to serial 4 and the old files.
  ExpectUpdatesTo(*of12, three.sample.v10, "client of 1.2");
  EXPECT_EQ(ReadBytes(Join(of12->WorkFolder(), L"release.serial")), "4");
  ExpectUpdatesTo(*of11, three.sample.v10, "client of 1.1");
  EXPECT_EQ(ReadBytes(Join(of11->WorkFolder(), L"release.serial")), "4");
}

TEST(Prune, DryRunThenForRealOnAServedFeedAndClientsStillUpdate) {
  ServedFeed served;
  ASSERT_TRUE(served.Load("prune")) << "the nginx fixture is not running";
  std::wstring root = FreshTestFolder();
  ThreeReleases three(root, served.folder);
  ASSERT_TRUE(three.Packed()) << three.Printed();
  const std::wstring& feed = three.feed;
  std::string m1 = ReadBytes(HistoryEntry(feed, 1)), m2 = ReadBytes(HistoryEntry(feed, 2)),
              m3 = ReadBytes(HistoryEntry(feed, 3));
  // What --keep 2 removes: the blobs only 1.0 names.
  std::set<std::string> kept = NamedRemotePaths(m2), gone;
  for (const std::string& remote : NamedRemotePaths(m3)) kept.insert(remote);
  for (const std::string& remote : NamedRemotePaths(m1)) {
    if (kept.count(remote) == 0) gone.insert(remote);
  }
  ASSERT_FALSE(gone.empty());
  // A work folder an interrupted pack left, and a file that is no blob.
  MakeFolder(Join(feed, L".quenfar8-pack-4242"));
  WriteBytes(Join(feed, L".quenfar8-pack-4242\\file-0"), "half a copy");
  WriteBytes(Join(feed, L"files\\README"), "not a blob");

  StampedTree before = StampedSnapshot(feed);
  ToolRun dry = Prune(feed, L"--keep 2 --dry-run");
  ASSERT_EQ(dry.exit_code, 0u) << Printed(dry);
  for (const std::string& remote : gone) EXPECT_TRUE(dry.HasLine({"would remove " + remote})) << dry.out;
  EXPECT_EQ(dry.Lines("would remove files/").size() + dry.Lines("would remove patches/").size(), gone.size())
      << dry.out;
  EXPECT_TRUE(dry.HasLine({"would remove .quenfar8-pack-4242"})) << dry.out;
  EXPECT_TRUE(dry.HasLine({"note: files/README", "left alone"})) << dry.out;
  EXPECT_TRUE(dry.HasLine({"kept: " + std::to_string(kept.size()) + " blobs"})) << dry.out;
  EXPECT_TRUE(StampedSnapshot(feed) == before);

  // A blob to be removed that another program holds open is left, and said
  // so; the rest goes.
  const std::string held_remote = *gone.begin();
  std::wstring held_path = Join(feed, Wide(held_remote));
  for (wchar_t& c : held_path) c = c == L'/' ? L'\\' : c;
  {
    HeldFile held(held_path, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(held.ok());
    ToolRun blocked = Prune(feed, L"--keep 2");
    EXPECT_EQ(blocked.exit_code, 1u) << Printed(blocked);
    EXPECT_TRUE(blocked.HasLine({"problem: " + held_remote, "cannot be removed"})) << blocked.out;
    EXPECT_TRUE(Exists(held_path));
  }
  ToolRun run = Prune(feed, L"--keep 2");
  ASSERT_EQ(run.exit_code, 0u) << Printed(run);
  EXPECT_TRUE(run.HasLine({"removed " + held_remote})) << run.out;
  for (const std::string& remote : gone) {
    std::wstring path = Join(feed, Wide(remote));
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    EXPECT_FALSE(Exists(path)) << remote;
  }
  EXPECT_EQ(BlobFaults(feed, m2) + BlobFaults(feed, m3), "");
  EXPECT_FALSE(Exists(Join(feed, L".quenfar8-pack-4242")));
  EXPECT_TRUE(Exists(Join(feed, L"files\\README")));
  EXPECT_EQ(ReadBytes(Join(feed, L"manifest.ini")), m3);
  // Nothing more to remove.
  ToolRun second = Prune(feed, L"--keep 2");
  EXPECT_EQ(second.exit_code, 0u) << Printed(second);
  EXPECT_TRUE(second.HasLine({"removed: 0 blobs"})) << second.out;

  // The served feed passes its check, and clients of every release update:
  // 1.1 through its patch, 1.0 (whose patch bases are gone from the
  // history kept) with whole files.
  ToolRun checked = Check(Wide(served.url));
  EXPECT_EQ(checked.exit_code, 0u) << Printed(checked);
  std::unique_ptr<InstallFolder> of11 = ClientOf(Join(root, L"client-1.1"), three.sample.v11, served.url);
  InstallFolder::Result patched = of11->Update(L"/quiet");
  ASSERT_EQ(patched.outcome.exit_code, 0u) << (patched.log.empty() ? "" : patched.log.back());
  EXPECT_NE(std::find(patched.log.begin(), patched.log.end(), std::string("변경분 받는 중: data.pak")),
            patched.log.end());
  for (const auto& file : three.v12) EXPECT_EQ(ReadBytes(of11->Path(Wide(file.first))), file.second) << file.first;
  std::unique_ptr<InstallFolder> of10 = ClientOf(Join(root, L"client-1.0"), three.sample.v10, served.url);
  InstallFolder::Result whole = of10->Update(L"/quiet");
  ASSERT_EQ(whole.outcome.exit_code, 0u) << (whole.log.empty() ? "" : whole.log.back());
  EXPECT_NE(std::find(whole.log.begin(), whole.log.end(), std::string("파일 받는 중: data.pak")), whole.log.end());
  for (const auto& file : three.v12) EXPECT_EQ(ReadBytes(of10->Path(Wide(file.first))), file.second) << file.first;

  // 1.0 cannot be gone back to any more: rollback says which blobs are gone.
  StampedTree pruned = StampedSnapshot(feed);
  ToolRun refused = Rollback(feed, L"--to 1");
  EXPECT_EQ(refused.exit_code, 1u) << Printed(refused);
  for (const std::string& remote : gone) EXPECT_TRUE(refused.HasLine({"problem: " + remote, "missing"})) << refused.out;
  EXPECT_TRUE(refused.HasLine({"history entry 1 cannot be made live"})) << refused.out;
  EXPECT_TRUE(StampedSnapshot(feed) == pruned);
  ToolRun listed = History(feed);
  EXPECT_TRUE(listed.HasLine({"1: version 1.0", "blobs gone"})) << listed.out;
  EXPECT_FALSE(listed.HasLine({"2: version 1.1", "blobs gone"})) << listed.out;
}

// A feed prune must leave alone, and what it says.
struct PruneRefusal {
  const char* what;
  bool history;                               // the history left as pack made it
  void (*spoil)(const std::wstring& feed);    // then changed so
  const wchar_t* keep;
  std::vector<std::string> said;              // pieces of the problem line
};

const PruneRefusal kPruneRefusals[] = {
    {"no history", false, nullptr, L"1", {"problem: ", "no history"}},
    {"hand-edited manifest", true,
     [](const std::wstring& feed) {
       std::wstring path = Join(feed, L"manifest.ini");
       WriteBytes(path, ReadBytes(path) + "; edited\r\n");
     },
     L"1", {"problem: manifest.ini is not the newest history entry"}},
    {"keep 0", true, nullptr, L"0", {"problem: --keep 0"}},
    {"an entry missing", true, [](const std::wstring& feed) { DeleteFileW(HistoryEntry(feed, 1).c_str()); }, L"1",
     {"problem: ", "entries are missing"}},
    {"something else in the history", true,
     [](const std::wstring& feed) { WriteBytes(Join(feed, L"history\\notes.txt"), "x"); }, L"1",
     {"problem: ", "notes.txt", "no history entry"}},
    {"an entry the updater refuses", true,
     [](const std::wstring& feed) {
       std::wstring first = HistoryEntry(feed, 1);
       WriteBytes(first, "[release]\r\nformat=2\r\n");
     },
     L"2", {"problem: ", "000001.ini", "the updater refuses it"}},
};

TEST(Prune, RefusesAndRemovesNothing) {
  for (const PruneRefusal& refusal : kPruneRefusals) {
    SCOPED_TRACE(refusal.what);
    std::wstring root = FreshTestFolder(Wide(refusal.what));
    SampleReleases sample;
    std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
    WriteClient(c10, sample.v10);
    WriteClient(c11, sample.v11);
    ASSERT_EQ(Pack(c10, feed).exit_code, 0u);
    ASSERT_EQ(Pack(c11, feed).exit_code, 0u);
    if (!refusal.history) RemoveTree(Join(feed, L"history"));
    if (refusal.spoil != nullptr) refusal.spoil(feed);
    StampedTree before = StampedSnapshot(feed);
    ToolRun run = Prune(feed, std::wstring(L"--keep ") + refusal.keep);
    EXPECT_EQ(run.exit_code, 1u) << Printed(run);
    EXPECT_TRUE(run.HasLine(refusal.said)) << run.out;
    EXPECT_TRUE(run.HasLine({"nothing was removed"})) << run.out;
    EXPECT_TRUE(StampedSnapshot(feed) == before);
  }
}

TEST(Prune, WaitsForAPackAtWork) {
  std::wstring root = FreshTestFolder();
  SampleReleases sample;
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  WriteClient(c10, sample.v10);
  WriteClient(c11, sample.v11);
  ASSERT_EQ(Pack(c10, feed).exit_code, 0u);
  ASSERT_EQ(Pack(c11, feed).exit_code, 0u);
  // A pack's work folder with its lock held, as a running pack holds it.
  MakeFolder(Join(feed, L".quenfar8-pack-77"));
  StampedTree files = StampedSnapshot(Join(feed, L"files")), patches = StampedSnapshot(Join(feed, L"patches"));
  std::string manifest = ReadBytes(Join(feed, L"manifest.ini"));
  {
    HeldFile lock(Join(feed, L".quenfar8-pack-77\\pack.lock"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_TRUE(lock.ok());
    ToolRun run = Prune(feed, L"--keep 1");
    EXPECT_EQ(run.exit_code, 1u) << Printed(run);
    EXPECT_TRUE(run.HasLine({"problem: ", ".quenfar8-pack-77", "at work"})) << run.out;
    EXPECT_TRUE(StampedSnapshot(Join(feed, L"files")) == files);
    EXPECT_TRUE(StampedSnapshot(Join(feed, L"patches")) == patches);
    EXPECT_EQ(ReadBytes(Join(feed, L"manifest.ini")), manifest);
  }
  // Once it has ended, the folder is a leftover like any other.
  ToolRun run = Prune(feed, L"--keep 1");
  EXPECT_EQ(run.exit_code, 0u) << Printed(run);
  EXPECT_FALSE(Exists(Join(feed, L".quenfar8-pack-77")));
  EXPECT_FALSE(Exists(Join(feed, L"files\\" + Wide(DigestOf(sample.v10.at("readme.txt"))))));
  EXPECT_EQ(ReadBytes(Join(feed, L"manifest.ini")), manifest);
}

}  // namespace

namespace {

// A publication that stopped after writing its history entry and before
// the manifest's rename leaves a newest entry that was never live: prune
// refuses, history says so, and a rollback to the live entry records it
// again as the newest without changing the manifest.
TEST(History, AnEntryThatWasNeverLiveIsMendedByRollingBackToTheLiveOne) {
  std::wstring root = FreshTestFolder();
  ThreeReleases three(root, Join(root, L"feed"));
  ASSERT_TRUE(three.Packed()) << three.Printed();
  const std::wstring& feed = three.feed;
  std::string live = ReadBytes(Join(feed, L"manifest.ini"));
  WriteBytes(HistoryEntry(feed, 4), ReadBytes(HistoryEntry(feed, 2)));

  ToolRun listed = History(feed);
  EXPECT_TRUE(listed.HasLine({"3: version 1.2", ", live"})) << listed.out;
  EXPECT_TRUE(listed.HasLine({"note: manifest.ini is entry 3, not the newest"})) << listed.out;
  ToolRun refused = Prune(feed, L"--keep 1");
  EXPECT_EQ(refused.exit_code, 1u) << Printed(refused);
  EXPECT_TRUE(refused.HasLine({"problem: manifest.ini is not the newest history entry (4)"})) << refused.out;

  ToolRun mended = Rollback(feed, L"--to 3");
  ASSERT_EQ(mended.exit_code, 0u) << Printed(mended);
  EXPECT_TRUE(mended.HasLine({"history entry 3 (version 1.2) is live again as history entry 5"})) << mended.out;
  EXPECT_EQ(ReadBytes(Join(feed, L"manifest.ini")), live);
  EXPECT_EQ(ReadBytes(HistoryEntry(feed, 5)), live);
  ToolRun pruned = Prune(feed, L"--keep 1");
  EXPECT_EQ(pruned.exit_code, 0u) << Printed(pruned);
  EXPECT_EQ(BlobFaults(feed, live), "");
}

}  // namespace

namespace {

// Command lines of the history commands that the tool does not understand,
// and what it says on its error stream.
const struct {
  const wchar_t* arguments;
  const char* said;
} kHistoryUsageErrors[] = {
    {L"history", "history takes one feed folder"},
    {L"history a b", "history takes one feed folder"},
    {L"rollback feed", "rollback needs --to"},
    {L"rollback feed --to 0", "--to 0: give a number from 1"},
    {L"rollback feed --to x", "--to x: give a number"},
    {L"rollback feed --to 1 --serial 5", "--serial needs --sign"},
    {L"rollback feed --to 1 --keep 2", "rollback has no option --keep"},
    {L"prune feed", "prune needs --keep"},
    {L"prune feed --keep -1", "--keep -1: give a number"},
    {L"prune feed --keep 1 --to 2", "prune has no option --to"},
    {L"prune --keep 1", "prune takes one feed folder"},
};

TEST(History, CommandLinesItDoesNotUnderstand) {
  for (const auto& usage : kHistoryUsageErrors) {
    ToolRun run = RunReleaseTool(usage.arguments);
    EXPECT_EQ(run.exit_code, 2u) << Utf8(usage.arguments) << "\n" << Printed(run);
    EXPECT_NE(run.err.find(usage.said), std::string::npos) << Utf8(usage.arguments) << "\n" << run.err;
    EXPECT_TRUE(run.out.empty()) << Utf8(usage.arguments) << "\n" << run.out;
  }
}

}  // namespace
