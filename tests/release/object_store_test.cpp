// A publisher's whole path on an object store: releases packed with the
// release tool, published into a bucket of a real Ceph S3 gateway with the
// publishing script and the aws tool, checked through the nginx front, and
// the real updater bringing clients to the new release through that front.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <set>

#include "support/messages.h"
#include "support/object_store.h"
#include "support/process.h"
#include "tests/release/publishing.h"

namespace {

// The remote paths a manifest's text names (its full= and path= values).
std::vector<std::string> NamedBlobs(const std::string& manifest) {
  std::vector<std::string> blobs;
  for (const std::string& line : CrLfLines(manifest)) {
    if (line.compare(0, 5, "full=") == 0 || line.compare(0, 5, "path=") == 0) blobs.push_back(line.substr(5));
  }
  return blobs;
}

// A prefix of the bucket of this run's own: the store lasts as long as the
// test session.
std::string FreshPrefix(const std::string& what) {
  return what + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
}

// The gateway's requests below a prefix once it has logged `manifests`
// uploads of manifest.ini (it logs a request a moment after it ends).
std::vector<std::string> StoreRequestsAfter(const ObjectStore& store, const std::string& prefix, int manifests) {
  std::vector<std::string> lines;
  WaitFor([&] {
    lines = store.StoreRequests(prefix);
    int seen = 0;
    for (const std::string& line : lines) seen += line == "PUT manifest.ini 200";
    return seen >= manifests;
  });
  return lines;
}

// pack <client> <feed> with more, then the script publishes the feed.
void PackAndPublish(const ObjectStore& store, const std::wstring& client, const std::wstring& feed,
                    const std::string& prefix, const std::wstring& more) {
  ToolRun pack = Pack(client, feed, more);
  ASSERT_EQ(pack.exit_code, 0u) << Printed(pack);
  ObjectStore::Published published = store.Publish(feed, prefix);
  ASSERT_EQ(published.exit_code, 0) << published.output;
}

std::wstring Tools() {
  return L"--diff-tool " + Quoted(TestDiffTool()) + L" --patch-tool " + Quoted(TestPatchTool());
}

void ExpectClient(const InstallFolder& client, const ClientFiles& files, const char* what) {
  for (const auto& file : files) {
    EXPECT_EQ(ReadBytes(client.Path(Wide(file.first))), file.second) << what << ": " << file.first;
  }
}

// Two releases published with the script: in the gateway's own log every
// blob a manifest names was uploaded (once, never again) before that
// manifest was, so no visible manifest ever named a missing blob. The
// release tool's check passes through the front; a 1.0 client updates
// through its patch, fetching exactly the manifest, the patch and the two
// whole files it needs, and an empty folder gets every file whole.
TEST(ObjectStore, PublishedReleasesUpdateOldAndNewClients) {
  ObjectStore store;
  ASSERT_TRUE(store.Load()) << "the object store or its front is not running";
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  const std::string prefix = FreshPrefix("e2e");

  ASSERT_NO_FATAL_FAILURE(PackAndPublish(store, c10, feed, prefix, L"--version 1.0"));
  std::string manifest10 = ReadBytes(Join(feed, L"manifest.ini"));
  ASSERT_NO_FATAL_FAILURE(
      PackAndPublish(store, c11, feed, prefix, L"--version 1.1 --from " + Quoted(c10) + L" " + Tools()));
  std::string manifest11 = ReadBytes(Join(feed, L"manifest.ini"));
  ASSERT_NE(manifest10, manifest11);

  std::vector<std::string> requests = StoreRequestsAfter(store, prefix, 2);
  std::set<std::string> uploaded;
  int manifests = 0;
  for (const std::string& line : requests) {
    if (line.compare(0, 4, "PUT ") != 0) continue;
    std::string key = line.substr(4, line.rfind(' ') - 4);
    EXPECT_EQ(line.substr(line.rfind(' ') + 1), "200") << line;
    if (key == "manifest.ini") {
      ASSERT_LT(manifests, 2) << "more manifest uploads than publishing runs";
      for (const std::string& blob : NamedBlobs(manifests == 0 ? manifest10 : manifest11)) {
        EXPECT_EQ(uploaded.count(blob), 1u) << "manifest " << manifests + 1 << " went up before " << blob;
      }
      ++manifests;
    } else {
      EXPECT_TRUE(uploaded.insert(key).second) << key << " was uploaded twice";
    }
  }
  EXPECT_EQ(manifests, 2);
  std::set<std::string> named;
  for (const std::string& blob : NamedBlobs(manifest10)) named.insert(blob);
  for (const std::string& blob : NamedBlobs(manifest11)) named.insert(blob);
  EXPECT_EQ(uploaded, named) << "every blob of the two releases, and nothing else";

  std::string url = store.Url(prefix);
  ToolRun check = Check(Wide(url), L"--client " + Quoted(c10) + L" --patch-tool " + Quoted(TestPatchTool()));
  EXPECT_EQ(check.exit_code, 0u) << Printed(check);
  EXPECT_TRUE(check.HasLine({"no problems"})) << check.out;

  size_t before = store.FrontRequests(prefix).size();
  InstallFolder old_client(Join(root, L"old-client"));
  WriteClient(old_client.dir(), releases.v10);
  ASSERT_TRUE(CopyFileW(TestPatchTool().c_str(), old_client.Path(L"hpatchz.exe").c_str(), FALSE));
  old_client.WriteFeed(url);
  InstallFolder::Result result = old_client.Update(L"/quiet");
  ASSERT_EQ(result.outcome.exit_code, 0u) << (result.log.empty() ? "" : result.log.back());
  ExpectClient(old_client, releases.v11, "1.0 client");
  EXPECT_NE(std::find(result.log.begin(), result.log.end(), std::string("변경분 받는 중: data.pak")), result.log.end());

  // The front answered the manifest, the patch and the two whole files,
  // each whole with status 200.
  std::string patch = MakeTestPatch(releases.v10.at("data.pak"), releases.v11.at("data.pak"));
  std::vector<std::string> expected = {
      "GET /" + prefix + "/manifest.ini 200 " + std::to_string(manifest11.size()),
      "GET /" + prefix + "/patches/" + DigestOf(patch) + " 200 " + std::to_string(patch.size()),
      "GET /" + prefix + "/files/" + DigestOf(releases.v11.at("music.ogg")) + " 200 30000",
      "GET /" + prefix + "/files/" + DigestOf(releases.v11.at("readme.txt")) + " 200 " +
          std::to_string(releases.v11.at("readme.txt").size()),
  };
  std::vector<std::string> answered;
  WaitFor([&] { return store.FrontRequests(prefix).size() >= before + expected.size(); });
  std::vector<std::string> lines = store.FrontRequests(prefix);
  for (size_t i = before; i < lines.size(); ++i) answered.push_back(lines[i].substr(0, lines[i].find(" \"")));
  EXPECT_EQ(answered, expected);

  InstallFolder new_client(Join(root, L"new-client"));
  new_client.WriteFeed(url);
  InstallFolder::Result fresh = new_client.Update(L"/quiet");
  ASSERT_EQ(fresh.outcome.exit_code, 0u) << (fresh.log.empty() ? "" : fresh.log.back());
  ExpectClient(new_client, releases.v11, "empty folder");
}

// A 1.0 client is stopped while it patches data.pak (its manifest is 1.1,
// readme.txt and music.ogg still to fetch); meanwhile 1.2 is packed and
// published with the script, its manifest replacing 1.1's. The client
// goes on with the release it started with, whose blobs the script left in
// place, and ends consistent at 1.1; its next start brings it to 1.2.
TEST(ObjectStore, ReleasePublishedMidUpdateLeavesTheClientConsistent) {
  ObjectStore store;
  ASSERT_TRUE(store.Load()) << "the object store or its front is not running";
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  ClientFiles v12 = releases.v11;
  v12["readme.txt"] = "release 1.2, louder music\r\n";
  v12["music.ogg"] = Filler(40000, 3);
  v12["data.pak"].replace(150000, 8, "LEVEL1.2");
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), c12 = Join(root, L"1.2"), feed = Join(root, L"feed");
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  WriteClient(c12, v12);
  const std::string prefix = FreshPrefix("mid-update");
  ASSERT_NO_FATAL_FAILURE(PackAndPublish(store, c10, feed, prefix, L"--version 1.0"));
  ASSERT_NO_FATAL_FAILURE(
      PackAndPublish(store, c11, feed, prefix, L"--version 1.1 --from " + Quoted(c10) + L" " + Tools()));

  InstallFolder client(Join(root, L"client"));
  WriteClient(client.dir(), releases.v10);
  ASSERT_TRUE(CopyFileW(TestPatchTool().c_str(), client.Path(L"hpatchz.exe").c_str(), FALSE));
  client.WriteFeed(store.Url(prefix));
  std::wstring flag = Join(root, L"pause");
  RunOutcome first;
  {
    // Only the updater gets the pause: the packs started below would pass
    // it on to the patch tool that proves their patches.
    std::unique_ptr<Program> started;
    {
      ScopedEnv pause(L"QUENFAR8_TEST_PATCH_PAUSE", flag);
      started.reset(new Program(client.exe(), L"/quiet", client.dir()));
    }
    Program& run = *started;
    ASSERT_TRUE(run.started());
    DWORD ignored = 0;
    ASSERT_TRUE(WaitFor([&] { return Exists(flag + L".waiting") || run.WaitEnded(0, &ignored); }, 120000));
    ASSERT_TRUE(Exists(flag + L".waiting")) << "the update ended before it patched data.pak";
    DWORD paused = GetTickCount();

    ASSERT_NO_FATAL_FAILURE(
        PackAndPublish(store, c12, feed, prefix, L"--version 1.2 --from " + Quoted(c11) + L" " + Tools()));
    // The test patch tool waits for at most 120 s.
    ASSERT_LT(GetTickCount() - paused, 110000u) << "1.2 was published too late to meet the paused client";
    WriteBytes(flag + L".go", "go");
    first = run.Wait(300000);
  }
  EXPECT_EQ(first.exit_code, 0u);
  ExpectClient(client, releases.v11, "after the interrupted run");
  std::vector<std::wstring> runs = client.RunFolders();
  ASSERT_FALSE(runs.empty());
  std::vector<std::string> log = CrLfLines(ReadBytes(Join(runs.back(), L"updater.log")));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), kReady);
  EXPECT_NE(std::find(log.begin(), log.end(), std::string("파일 받는 중: readme.txt")), log.end());
  // In the gateway's log, the client's fetch of 1.1's readme (through the
  // front) came after 1.2's manifest had gone up.
  const std::string readme = "GET files/" + DigestOf(releases.v11.at("readme.txt")) + " ";
  std::vector<std::string> requests;
  WaitFor([&] {
    requests = store.StoreRequests(prefix);
    for (const std::string& line : requests) {
      if (line.compare(0, readme.size(), readme) == 0) return true;
    }
    return false;
  });
  int manifests = 0;
  bool fetched_after = false;
  for (const std::string& line : requests) {
    manifests += line == "PUT manifest.ini 200";
    if (line.compare(0, readme.size(), readme) == 0) {
      fetched_after = manifests == 3;
      break;
    }
  }
  EXPECT_TRUE(fetched_after) << "1.1's readme was not fetched after 1.2's manifest went up";

  InstallFolder::Result second = client.Update(L"/quiet");
  ASSERT_EQ(second.outcome.exit_code, 0u) << (second.log.empty() ? "" : second.log.back());
  ExpectClient(client, v12, "after the next run");
}

// Three releases published; prune keeps the newest two in the feed folder,
// and the script's --delete then removes from the bucket exactly the blobs
// only 1.0 named. The front still serves a feed that passes its check, a
// 1.1 client updates through its patch and a 1.0 client with whole files.
TEST(ObjectStore, PruneThenDeleteKeepsTheKeptReleasesWhole) {
  ObjectStore store;
  ASSERT_TRUE(store.Load()) << "the object store or its front is not running";
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  ClientFiles v12 = releases.v11;
  v12["readme.txt"] = "release 1.2, louder music\r\n";
  v12["music.ogg"] = Filler(40000, 3);
  v12["data.pak"].replace(150000, 8, "LEVEL1.2");
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), c12 = Join(root, L"1.2"), feed = Join(root, L"feed");
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  WriteClient(c12, v12);
  const std::string prefix = FreshPrefix("prune");
  ASSERT_NO_FATAL_FAILURE(PackAndPublish(store, c10, feed, prefix, L"--version 1.0"));
  std::string m10 = ReadBytes(Join(feed, L"manifest.ini"));
  ASSERT_NO_FATAL_FAILURE(
      PackAndPublish(store, c11, feed, prefix, L"--version 1.1 --from " + Quoted(c10) + L" " + Tools()));
  std::string m11 = ReadBytes(Join(feed, L"manifest.ini"));
  ASSERT_NO_FATAL_FAILURE(
      PackAndPublish(store, c12, feed, prefix, L"--version 1.2 --from " + Quoted(c11) + L" " + Tools()));
  std::string m12 = ReadBytes(Join(feed, L"manifest.ini"));
  std::set<std::string> kept, gone;
  for (const std::string& blob : NamedBlobs(m11)) kept.insert(blob);
  for (const std::string& blob : NamedBlobs(m12)) kept.insert(blob);
  for (const std::string& blob : NamedBlobs(m10)) {
    if (kept.count(blob) == 0) gone.insert(blob);
  }
  ASSERT_FALSE(gone.empty());

  ToolRun pruned = RunReleaseTool(L"prune " + Quoted(feed) + L" --keep 2");
  ASSERT_EQ(pruned.exit_code, 0u) << Printed(pruned);
  ObjectStore::Published deleted = store.Publish(feed, prefix, "--delete");
  ASSERT_EQ(deleted.exit_code, 0) << deleted.output;
  // The script's output lines (LF) that name a deleted key.
  std::set<std::string> said;
  size_t start = 0;
  for (size_t end; (end = deleted.output.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = deleted.output.substr(start, end - start);
    const std::string mark = "deleted " + prefix + "/";
    if (line.compare(0, mark.size(), mark) == 0) said.insert(line.substr(mark.size()));
  }
  EXPECT_EQ(said, gone) << deleted.output;

  std::string url = store.Url(prefix);
  ToolRun check = Check(Wide(url));
  EXPECT_EQ(check.exit_code, 0u) << Printed(check);
  InstallFolder of11(Join(root, L"client-1.1"));
  WriteClient(of11.dir(), releases.v11);
  ASSERT_TRUE(CopyFileW(TestPatchTool().c_str(), of11.Path(L"hpatchz.exe").c_str(), FALSE));
  of11.WriteFeed(url);
  InstallFolder::Result patched = of11.Update(L"/quiet");
  ASSERT_EQ(patched.outcome.exit_code, 0u) << (patched.log.empty() ? "" : patched.log.back());
  EXPECT_NE(std::find(patched.log.begin(), patched.log.end(), std::string("변경분 받는 중: data.pak")), patched.log.end());
  ExpectClient(of11, v12, "client of 1.1");
  InstallFolder of10(Join(root, L"client-1.0"));
  WriteClient(of10.dir(), releases.v10);
  of10.WriteFeed(url);
  InstallFolder::Result whole = of10.Update(L"/quiet");
  ASSERT_EQ(whole.outcome.exit_code, 0u) << (whole.log.empty() ? "" : whole.log.back());
  EXPECT_NE(std::find(whole.log.begin(), whole.log.end(), std::string("파일 받는 중: data.pak")), whole.log.end());
  ExpectClient(of10, v12, "client of 1.0");
}

// The front's log lines for one remote path below a prefix, once there are
// at least count of them (nginx logs a request when it is done with it).
std::vector<std::string> FrontLinesFor(const ObjectStore& store, const std::string& prefix, const std::string& remote,
                                       size_t count) {
  const std::string path = "GET /" + prefix + "/" + remote + " ";
  std::vector<std::string> lines;
  WaitFor([&] {
    lines.clear();
    for (const std::string& line : store.FrontRequests(prefix)) {
      if (line.compare(0, path.size(), path) == 0) lines.push_back(line);
    }
    return lines.size() >= count;
  });
  return lines;
}

// The status and body bytes of a front log line ("GET <path> <status> <bytes> ...").
void StatusAndBytes(const std::string& line, int* status, unsigned long long* bytes) {
  size_t path_end = line.find(' ', 4);
  *status = atoi(line.c_str() + path_end + 1);
  *bytes = strtoull(line.c_str() + line.find(' ', path_end + 1) + 1, nullptr, 10);
}

// network=resilient through the front: an updater killed half-way through
// a 64 MiB blob (uploaded in parts, so its ETag is no MD5) finishes it on
// its next start with one range the front answers 206 with exactly the
// rest; the front asked the store for that object in slices, never for all
// of it twice.
TEST(ObjectStore, KilledDownloadResumesThroughTheFront) {
  ObjectStore store;
  ASSERT_TRUE(store.Load()) << "the object store or its front is not running";
  std::wstring root = FreshTestFolder();
  const size_t kSize = 64u * 1048576u;
  ClientFiles files = {{"Quenfar8.exe", ReadBytes(FakeGameExe())}, {"big.pak", Filler(kSize, 12)}};
  const std::string& big = files.at("big.pak");
  std::wstring release = Join(root, L"release"), feed = Join(root, L"feed");
  WriteClient(release, files);
  const std::string prefix = FreshPrefix("resume");
  ASSERT_NO_FATAL_FAILURE(PackAndPublish(store, release, feed, prefix, L"--version 1.0"));

  InstallFolder install(Join(root, L"client"));
  WriteBytes(install.Path(L"Quenfar8.exe"), files.at("Quenfar8.exe"));
  WriteBytes(install.Path(L"Quenfar8Updater.ini"), "[updater]\r\nfeed=" + store.Url(prefix) + "\r\nnetwork=resilient\r\n");
  const std::wstring partial = Join(install.WorkFolder(), L"partial\\" + Wide(DigestOf(big)));
  unsigned long long held = KillUpdaterWhenHeld(install, partial, kSize / 2, 180000);
  ASSERT_GT(held, 0u) << "the download never got half-way";
  ASSERT_LT(held, kSize) << "the kill came after the last byte";

  InstallFolder::Result second = install.Update(L"/quiet", L"", 180000);
  EXPECT_EQ(second.outcome.exit_code, 0u);
  ASSERT_FALSE(second.log.empty());
  EXPECT_EQ(second.log.back(), kReady);
  EXPECT_TRUE(ReadBytes(install.Path(L"big.pak")) == big) << "big.pak is not the release's";
  EXPECT_FALSE(Exists(partial));

  const std::string remote = "files/" + DigestOf(big);
  std::vector<std::string> lines = FrontLinesFor(store, prefix, remote, 2);
  ASSERT_EQ(lines.size(), 2u);
  int resumed = 0;
  for (const std::string& line : lines) {
    int status = 0;
    unsigned long long bytes = 0;
    StatusAndBytes(line, &status, &bytes);
    if (status != 206) continue;
    ++resumed;
    EXPECT_EQ(bytes, kSize - held) << line;
    EXPECT_NE(line.find("range=\"bytes=" + std::to_string(held) + "-"), std::string::npos) << line;
  }
  EXPECT_EQ(resumed, 1);
  // The slices of the killed request that the front had cached are not
  // asked for again, and one cut short is asked for once more at most.
  EXPECT_LE(store.StoreBytesSent(prefix, remote), kSize + 1048576u);
  printf("[resume through the front] killed with %llu of %zu bytes held; the store sent %llu bytes in all\n", held,
         kSize, store.StoreBytesSent(prefix, remote));
}

// The store ignores If-Range. A blob under a name that is not content
// addressed (data/big.pak, which the front passes through uncached) was
// first uploaded with wrong bytes; a client killed half-way through keeps
// the first half of those. The publisher then uploads the right bytes
// under the same name. The next start asks for the rest with If-Range and
// the old validator; the store answers 206 with the new object's rest
// anyway, the file fails its digest, and the updater fetches it whole once
// and succeeds.
TEST(ObjectStore, ResumeOntoOtherContentIsCaughtByItsDigest) {
  ObjectStore store;
  ASSERT_TRUE(store.Load()) << "the object store or its front is not running";
  std::wstring root = FreshTestFolder();
  const size_t kSize = 64u * 1048576u;
  const std::string game = ReadBytes(FakeGameExe());
  const std::string right = Filler(kSize, 13), wrong = Filler(kSize, 14);
  std::wstring folder = Join(root, L"feed");
  Release release(folder);
  release.AddFile("Quenfar8.exe", game);
  release.AddFile("big.pak", right, "data/big.pak");
  release.WriteManifest();
  const std::string prefix = FreshPrefix("other-content");
  const std::string target = "s3://" + store.bucket + "/" + prefix + "/";
  WriteBytes(Join(folder, L"data\\big.pak"), wrong);
  ObjectStore::Published upload = store.Aws("s3 cp --recursive --only-show-errors '" + UnixPathOf(folder) + "' '" +
                                            target + "'");
  ASSERT_EQ(upload.exit_code, 0) << upload.output;

  InstallFolder install(Join(root, L"client"));
  WriteBytes(install.Path(L"Quenfar8.exe"), game);
  WriteBytes(install.Path(L"Quenfar8Updater.ini"), "[updater]\r\nfeed=" + store.Url(prefix) + "\r\nnetwork=resilient\r\n");
  const std::wstring partial = Join(install.WorkFolder(), L"partial\\" + Wide(DigestOf(right)));
  unsigned long long held = KillUpdaterWhenHeld(install, partial, kSize / 2, 180000);
  ASSERT_GT(held, 0u) << "the download never got half-way";
  ASSERT_LT(held, kSize) << "the kill came after the last byte";

  WriteBytes(Join(folder, L"data\\big.pak"), right);
  upload = store.Aws("s3 cp --only-show-errors '" + UnixPathOf(Join(folder, L"data\\big.pak")) + "' '" + target +
                     "data/big.pak'");
  ASSERT_EQ(upload.exit_code, 0) << upload.output;
  size_t before = FrontLinesFor(store, prefix, "data/big.pak", 1).size();

  InstallFolder::Result second = install.Update(L"/quiet", L"", 180000);
  EXPECT_EQ(second.outcome.exit_code, 0u);
  ASSERT_FALSE(second.log.empty());
  EXPECT_EQ(second.log.back(), kReady);
  EXPECT_TRUE(ReadBytes(install.Path(L"big.pak")) == right) << "big.pak is not the release's";
  EXPECT_FALSE(Exists(partial));

  // The second start: the range with If-Range, answered 206 by the store
  // with the new object's rest, then the whole file once.
  std::vector<std::string> lines = FrontLinesFor(store, prefix, "data/big.pak", before + 2);
  ASSERT_EQ(lines.size(), before + 2);
  int status = 0;
  unsigned long long bytes = 0;
  StatusAndBytes(lines[before], &status, &bytes);
  EXPECT_EQ(status, 206) << lines[before];
  EXPECT_EQ(bytes, kSize - held) << lines[before];
  EXPECT_NE(lines[before].find("range=\"bytes=" + std::to_string(held) + "-"), std::string::npos) << lines[before];
  // nginx logs a header that was not sent as "-".
  EXPECT_EQ(lines[before].find("if_range=\"-\""), std::string::npos) << "no If-Range: " << lines[before];
  EXPECT_NE(lines[before].find("store=\"206\""), std::string::npos) << lines[before];
  StatusAndBytes(lines[before + 1], &status, &bytes);
  EXPECT_EQ(status, 200) << lines[before + 1];
  EXPECT_EQ(bytes, kSize) << lines[before + 1];
}

}  // namespace
