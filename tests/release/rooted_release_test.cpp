// Feeds with a key record: an updater built with the test suite's two root
// keys takes a manifest only when a root signed the record that names the
// manifest's signing key, the record's key version has not gone back, and
// neither document is past its expiry or signed in the future. Records and
// manifests are written here by hand and signed with OpenSSL's command
// line, as a publisher with their own tooling would: the format alone is
// under test, and any time or version can be made.
#include "tests/release/rooted_feed.h"

namespace {

TEST(RootedRelease, EitherPinnedRootCertifiesAndTheRunRecordsTheKeyVersion) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  RootedFeed feed(root, releases);
  std::wstring signing = NewKey(L"signing");
  const std::wstring roots[] = {RootKey1(), RootKey2()};
  for (int i = 0; i < 2; ++i) {
    RecordPlan record;
    record.version = 3;
    record.signing_key = signing;
    record.root = roots[i];
    ManifestPlan manifest;
    manifest.serial = 5;
    manifest.key_version = 3;
    manifest.signing_key = signing;
    feed.Publish(record, manifest);
    RootedClient client(Join(root, L"install-" + std::to_wstring(i)), releases.v10);
    ExpectUpdated(client, feed.folder, releases, "root " + std::to_string(i + 1));
    EXPECT_EQ(client.Recorded(L"release.serial"), "5");
    EXPECT_EQ(client.Recorded(L"key.version"), "3");
    // No rotation: the pinned roots stay the only ones, and nothing records them.
    EXPECT_EQ(client.Recorded(L"root.keys"), "(none)");
  }
}

TEST(RootedRelease, EveryRefusalHasItsLineAndChangesNothing) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  RootedFeed feed(root, releases);
  std::wstring signing = NewKey(L"signing"), stranger = NewKey(L"stranger");
  RecordPlan good_record;
  good_record.signing_key = signing;
  good_record.root = RootKey1();
  ManifestPlan good_manifest;
  good_manifest.signing_key = signing;
  std::string record = RecordText(good_record), manifest = SignedManifestText(feed.unsigned_manifest, good_manifest);

  struct Case {
    std::string what;
    std::string record, manifest;
    const char* message;
  };
  std::vector<Case> cases;
  auto record_with = [&](void (*change)(RecordPlan*)) {
    RecordPlan plan = good_record;
    change(&plan);
    return RecordText(plan);
  };
  auto manifest_with = [&](void (*change)(ManifestPlan*)) {
    ManifestPlan plan = good_manifest;
    change(&plan);
    return SignedManifestText(feed.unsigned_manifest, plan);
  };
  {
    RecordPlan plan = good_record;
    plan.root = stranger;
    cases.push_back({"a record signed by a key that is no root", RecordText(plan), manifest, kKeyRecord});
  }
  {
    // The expiry moved a year on after signing.
    std::string edited = record;
    size_t at = edited.find("expires=") + 8;
    edited[at + 3] = char(edited[at + 3] == '9' ? '0' : edited[at + 3] + 1);
    cases.push_back({"a record whose expiry was edited", edited, manifest, kKeyRecord});
  }
  cases.push_back({"a record without its signature line", record.substr(0, record.size() - 141), manifest, kKeyRecord});
  cases.push_back({"a record past its expiry",
                   record_with([](RecordPlan* s) { s->signed_offset = -40 * kDay, s->expires_offset = -kDay; }),
                   manifest, kExpired});
  cases.push_back({"a record signed two years from now (a clock years behind)",
                   record_with([](RecordPlan* s) { s->signed_offset = 730 * kDay, s->expires_offset = 760 * kDay; }),
                   manifest, kExpired});
  cases.push_back({"a manifest past its expiry",
                   record, manifest_with([](ManifestPlan* s) { s->signed_offset = -9 * kDay, s->expires_offset = -2 * kDay; }),
                   kExpired});
  cases.push_back({"a manifest expired three years ago (a clock years ahead)", record,
                   manifest_with([](ManifestPlan* s) { s->signed_offset = -1200 * kDay, s->expires_offset = -1100 * kDay; }),
                   kExpired});
  cases.push_back({"a manifest signed in a year", record,
                   manifest_with([](ManifestPlan* s) { s->signed_offset = 365 * kDay, s->expires_offset = 400 * kDay; }),
                   kExpired});
  {
    std::string edited = manifest;
    size_t at = edited.find("expires=") + 8;
    edited[at + 3] = char(edited[at + 3] == '9' ? '0' : edited[at + 3] + 1);
    cases.push_back({"a manifest whose expiry was edited", record, edited, kBadSignature});
  }
  {
    ManifestPlan plan = good_manifest;
    plan.signing_key = stranger;
    cases.push_back({"a manifest signed by another key", record, SignedManifestText(feed.unsigned_manifest, plan), kBadSignature});
  }
  cases.push_back({"a manifest naming a key version the record does not hold", record,
                   manifest_with([](ManifestPlan* s) { s->key_version = 2; }), kUpdating});
  {
    std::string body = feed.unsigned_manifest;
    body.insert(body.find("\r\n\r\n[file.0]") + 2, "serial=1\r\n");
    cases.push_back({"a signed manifest without key fields", record, body + SignatureLine(body, signing), kUnsupported});
  }

  for (const Case& c : cases) {
    feed.Publish(c.record, c.manifest);
    RootedClient client(Join(root, L"install-" + std::to_wstring(&c - cases.data())), releases.v10);
    ExpectRefused(client, feed.folder, c.message, c.what);
  }
  // The genuine pair passes, so every refusal above was the spoiling's
  // doing; and so do clocks a few minutes off either way.
  struct Tolerated {
    const char* what;
    int64_t signed_offset, expires_offset;
  } const tolerated[] = {
      {"as signed", -60, 7 * kDay},
      {"signed four minutes from now", 240, 7 * kDay},
      {"expired four minutes ago", -kDay, -240},
  };
  for (const Tolerated& t : tolerated) {
    ManifestPlan plan = good_manifest;
    plan.signed_offset = t.signed_offset;
    plan.expires_offset = t.expires_offset;
    feed.Publish(record, SignedManifestText(feed.unsigned_manifest, plan));
    RootedClient client(Join(root, L"install-" + Wide(t.what)), releases.v10);
    ExpectUpdated(client, feed.folder, releases, t.what);
  }
}

TEST(RootedRelease, SigningKeysRotateAndRootsHandOver) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  RootedFeed feed(root, releases);
  std::wstring s1 = NewKey(L"signing-1"), s2 = NewKey(L"signing-2"), s3 = NewKey(L"signing-3");
  std::wstring new_root = NewKey(L"new-root");
  RootedClient client(Join(root, L"install"), releases.v10);

  // Version 1.
  RecordPlan v1;
  v1.signing_key = s1;
  v1.root = RootKey1();
  ManifestPlan m1;
  m1.signing_key = s1;
  std::string record1 = RecordText(v1), manifest1 = SignedManifestText(feed.unsigned_manifest, m1);
  feed.Publish(record1, manifest1);
  ExpectUpdated(client, feed.folder, releases, "key version 1");
  EXPECT_EQ(client.Recorded(L"key.version"), "1");

  // s1 leaks: version 2 names s2, and the manifest is signed again by s2.
  RecordPlan v2 = v1;
  v2.version = 2;
  v2.signing_key = s2;
  std::string record2 = RecordText(v2);
  ManifestPlan m2;
  m2.serial = 2;
  m2.key_version = 2;
  m2.signing_key = s2;
  feed.Publish(record2, SignedManifestText(feed.unsigned_manifest, m2));
  ExpectUpdated(client, feed.folder, releases, "key version 2");
  EXPECT_EQ(client.Recorded(L"key.version"), "2");
  EXPECT_EQ(client.Recorded(L"release.serial"), "2");

  // Whoever holds s1 signs a manifest under the old version: the record
  // retired that key.
  ManifestPlan leaked;
  leaked.serial = 9;
  leaked.key_version = 1;
  leaked.signing_key = s1;
  feed.Publish(record2, SignedManifestText(feed.unsigned_manifest, leaked));
  ExpectRefused(client, feed.folder, kRevoked, "a manifest signed by the retired key");
  // Or replays the whole feed of version 1.
  feed.Publish(record1, manifest1);
  ExpectRefused(client, feed.folder, kOlderKeyRecord, "the record of version 1 replayed");

  // The first root retires: version 3 hands over from root 1 to a new root,
  // which signs the record.
  RecordPlan v3 = v2;
  v3.version = 3;
  v3.signing_key = s3;
  v3.root = new_root;
  v3.rotations = {{RootKey1(), new_root}};
  std::string record3 = RecordText(v3);
  ManifestPlan m3;
  m3.serial = 3;
  m3.key_version = 3;
  m3.signing_key = s3;
  std::string manifest3 = SignedManifestText(feed.unsigned_manifest, m3);
  feed.Publish(record3, manifest3);
  ExpectUpdated(client, feed.folder, releases, "the root rotation");
  EXPECT_EQ(client.Recorded(L"key.version"), "3");
  EXPECT_EQ(client.Recorded(L"root.keys"), PublicHex(new_root) + "\r\n" + PublicHex(RootKey2()) + "\r\n");

  // From now on a record signed by root 1 alone is refused, even one of a
  // higher version, while the same record signed by the new root passes.
  RecordPlan v4 = v3;
  v4.version = 4;
  v4.rotations = {};
  v4.root = RootKey1();
  ManifestPlan m4 = m3;
  m4.serial = 4;
  m4.key_version = 4;
  std::string manifest4 = SignedManifestText(feed.unsigned_manifest, m4);
  feed.Publish(RecordText(v4), manifest4);
  ExpectRefused(client, feed.folder, kKeyRecord, "a record signed by the retired root");
  v4.root = new_root;
  feed.Publish(RecordText(v4), manifest4);
  ExpectUpdated(client, feed.folder, releases, "a record signed by the new root");
  EXPECT_EQ(client.Recorded(L"key.version"), "4");

  // A client that never saw version 3 follows the hand-over a later record
  // still carries; without it, the new root's record is no record to it.
  RootedClient late(Join(root, L"install-late"), releases.v10);
  ExpectRefused(late, feed.folder, kKeyRecord, "a new root's record without the hand-over, to a client of the pinned roots");
  v4.rotations = {{RootKey1(), new_root}};
  feed.Publish(RecordText(v4), manifest4);
  ExpectUpdated(late, feed.folder, releases, "a new root's record with the hand-over");
  EXPECT_EQ(late.Recorded(L"root.keys"), client.Recorded(L"root.keys"));
  // A hand-over that root 1 did not sign gives no trust.
  v4.rotations = {{RootKey1(), new_root, new_root}};
  feed.Publish(RecordText(v4), manifest4);
  RootedClient forged(Join(root, L"install-forged"), releases.v10);
  ExpectRefused(forged, feed.folder, kKeyRecord, "a hand-over from root 1 signed by the new root");
}

TEST(RootedRelease, AManifestOfANewerKeyFetchesTheRecordOnceMore) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring signing = NewKey(L"signing");
  TestFeed server;
  ASSERT_TRUE(server.Load()) << "the HTTPS feed is not running";
  std::wstring client_root = Join(root, L"client");
  RootedFeed feed(root, releases);
  std::string name = "rooted-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  std::wstring served = server.Folder(name);
  MakeFolder(served);
  for (const std::wstring& file : ListTree(feed.folder)) {
    std::wstring to = Join(served, file);
    MakeFolder(to.substr(0, to.rfind(L'\\')));
    ASSERT_TRUE(CopyFileW(Join(feed.folder, file).c_str(), to.c_str(), FALSE));
  }
  RecordPlan record;
  record.signing_key = signing;
  record.root = RootKey2();
  ManifestPlan manifest;
  manifest.key_version = 2;
  manifest.signing_key = signing;
  WriteBytes(Join(served, L"keys.ini"), RecordText(record));
  WriteBytes(Join(served, L"manifest.ini"), SignedManifestText(feed.unsigned_manifest, manifest));

  RootedClient client(client_root, releases.v10);
  client.install.WriteFeed(server.Url(name));
  StampedTree before = client.Files();
  InstallFolder::Result result = client.install.Update(L"/quiet");
  EXPECT_EQ(result.outcome.exit_code, 1u);
  EXPECT_EQ(result.log, std::vector<std::string>{kUpdating});
  EXPECT_EQ(server.Gets("/" + name + "/keys.ini").size(), 2u) << "the record is fetched once more, and only once";
  EXPECT_EQ(server.Gets("/" + name + "/manifest.ini").size(), 1u);
  EXPECT_TRUE(client.Files() == before);
}

}  // namespace
