// The release tool's side of feeds with a key record: keys writes and signs
// keys.ini by the version rules, pack and rollback put the key fields into
// the manifest, resign renews them and nothing else, and check judges the
// record and the manifest as the updater built with root keys does. What
// the tool writes is also run through that updater.
#include <gtest/gtest.h>

#include "tests/release/rooted_feed.h"

namespace {

// keys <feed> with more arguments.
ToolRun Keys(const std::wstring& feed, const std::wstring& more) {
  return RunReleaseTool(L"keys " + Quoted(feed) + L" " + more);
}

ToolRun Resign(const std::wstring& feed, const std::wstring& more) {
  return RunReleaseTool(L"resign " + Quoted(feed) + L" " + more);
}

std::wstring KeyArgs(const std::wstring& root, const std::wstring& signing, const std::wstring& more = L"") {
  return L"--root-key " + Quoted(root) + L" --signing-key " + Quoted(signing) + (more.empty() ? L"" : L" " + more);
}

std::wstring CheckRoot(const std::string& root_hex) { return L"--root-key " + Wide(root_hex); }

// The value of the first line of text that begins with "key=".
std::string Value(const std::string& text, const std::string& key) {
  for (const std::string& line : CrLfLines(text)) {
    if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
  }
  return "(none)";
}

// text with the first line that begins with "key=" set to value, or removed
// when value is null.
std::string WithLine(const std::string& text, const std::string& key, const char* value) {
  size_t at = text.compare(0, key.size() + 1, key + "=") == 0 ? 0 : text.find("\r\n" + key + "=");
  EXPECT_NE(at, std::string::npos) << key;
  if (at == std::string::npos) return text;
  if (at != 0) at += 2;
  size_t end = text.find("\r\n", at) + 2;
  return text.substr(0, at) + (value ? key + "=" + value + "\r\n" : "") + text.substr(end);
}

// A signed text without its signature line.
std::string Body(const std::string& text) { return text.substr(0, text.size() - 141); }

uint64_t Seconds(const std::string& time) {
  uint64_t seconds = 0;
  EXPECT_TRUE(ParseUtcTime(Wide(time).c_str(), &seconds)) << time;
  return seconds;
}

// Keys and clients for one test: the suite's root keys, and two signing
// keys and a further root made by keygen, all outside the feed.
struct KeyedSetup {
  std::wstring root, feed, c10, c11;
  std::wstring signing1, signing2, new_root;
  std::string root_hex, signing1_hex, signing2_hex, new_root_hex;
  SampleReleases releases;

  explicit KeyedSetup(const std::wstring& suffix = L"") {
    root = FreshTestFolder(suffix);
    feed = Join(root, L"feed");
    c10 = Join(root, L"1.0");
    c11 = Join(root, L"1.1");
    WriteClient(c10, releases.v10);
    WriteClient(c11, releases.v11);
    MakeFolder(Join(root, L"keys"));
    signing1 = MadeKey(L"signing-1", &signing1_hex);
    signing2 = MadeKey(L"signing-2", &signing2_hex);
    new_root = MadeKey(L"new-root", &new_root_hex);
    root_hex = PublicHex(RootKey1());
  }

  std::wstring MadeKey(const std::wstring& name, std::string* hex) {
    std::wstring key = Join(Join(root, L"keys"), name + L".pem");
    ToolRun run = RunReleaseTool(L"keygen " + Quoted(key));
    EXPECT_EQ(run.exit_code, 0u) << Printed(run);
    *hex = run.lines.empty() ? "" : run.lines[0];
    return key;
  }

  std::wstring Record() const { return Join(feed, L"keys.ini"); }
  std::wstring Manifest() const { return Join(feed, L"manifest.ini"); }
};

TEST(ReleaseKeys, WhatKeysAndPackWritePassesCheckAndTheRootedUpdater) {
  KeyedSetup s;
  ToolRun keys = Keys(s.feed, KeyArgs(RootKey1(), s.signing1));
  ASSERT_EQ(keys.exit_code, 0u) << Printed(keys);
  EXPECT_TRUE(keys.HasLine({"keys.ini written: key version 1, signing key " + s.signing1_hex + ", expires "})) << keys.out;
  std::string record = ReadBytes(s.Record());
  std::vector<std::string> lines = CrLfLines(record);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"[keys]", "format=1", "version=1", "signing_key=" + s.signing1_hex}));
  EXPECT_EQ(Seconds(Value(record, "expires")) - Seconds(Value(record, "signed")), 365u * kDay);
  EXPECT_EQ(lines.back().substr(0, 11), ";signature=");

  ToolRun pack = Pack(s.c11, s.feed, L"--sign " + Quoted(s.signing1));
  ASSERT_EQ(pack.exit_code, 0u) << Printed(pack);
  EXPECT_TRUE(pack.HasLine({"manifest.ini written, signed, serial 1, key version 1, expires "})) << pack.out;
  std::string manifest = ReadBytes(s.Manifest());
  // The key fields follow the serial in [release].
  std::vector<std::string> head = CrLfLines(manifest.substr(0, manifest.find("\r\n\r\n") + 2));
  ASSERT_EQ(head.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(head.begin() + 3, head.begin() + 6),
            (std::vector<std::string>{"launch=Quenfar8.exe", "serial=1", "key_version=1"}));
  EXPECT_EQ(head[6].substr(0, 7), "signed=");
  EXPECT_EQ(head[7].substr(0, 8), "expires=");
  EXPECT_EQ(Seconds(Value(manifest, "expires")) - Seconds(Value(manifest, "signed")), 30u * kDay);

  ToolRun check = Check(s.feed, CheckRoot(s.root_hex));
  EXPECT_EQ(check.exit_code, 0u) << Printed(check);
  EXPECT_TRUE(check.HasLine({"keys.ini: signed by a root key; key version 1, signing key " + s.signing1_hex}))
      << check.out;
  EXPECT_TRUE(check.HasLine({"manifest.ini: signed by the record's signing key"})) << check.out;
  EXPECT_TRUE(check.Lines("note: ").empty()) << check.out;
  ToolRun unrooted = Check(s.feed);
  EXPECT_EQ(unrooted.exit_code, 0u) << Printed(unrooted);
  EXPECT_TRUE(unrooted.HasLine({"note: keys.ini: the feed has a key record; give --root-key"})) << unrooted.out;

  ToolRun history = RunReleaseTool(L"history " + Quoted(s.feed));
  EXPECT_TRUE(history.HasLine({"1: version (none), serial 1, key version 1, expires " + Value(manifest, "expires"),
                               ", live"}))
      << history.out;

  RootedClient client(Join(s.root, L"install"), s.releases.v10);
  ExpectUpdated(client, s.feed, s.releases, "keys and pack");
  EXPECT_EQ(client.Recorded(L"key.version"), "1");
}

// One keys run of a sequence on one feed, and what it must do.
struct VersionStep {
  const char* what;
  int signing;          // 1 or 2: which signing key
  const wchar_t* more;  // further arguments
  DWORD exit_code;
  const char* says;     // a piece of the line it prints
  const char* version;  // keys.ini's version afterwards
};

const VersionStep kVersionSteps[] = {
    {"the first record", 1, L"", 0, "keys.ini written: key version 1", "1"},
    {"the same version and key renew it", 1, L"--version 1 --expires 10", 0, "keys.ini written: key version 1", "1"},
    {"the same version with another key", 2, L"--version 1", 1, "problem: --version 1: keys.ini names another signing key", "1"},
    {"the next version by default", 2, L"", 0, "keys.ini written: key version 2", "2"},
    {"a lower version", 1, L"--version 1", 1, "problem: --version 1: keys.ini has version 2", "2"},
    {"a version further on", 2, L"--version 7", 0, "keys.ini written: key version 7", "7"},
};

TEST(ReleaseKeys, KeyVersionsGrowAndOneVersionNamesOneKey) {
  KeyedSetup s;
  for (const VersionStep& step : kVersionSteps) {
    std::string before = Exists(s.Record()) ? ReadBytes(s.Record()) : "";
    ToolRun run = Keys(s.feed, KeyArgs(RootKey1(), step.signing == 1 ? s.signing1 : s.signing2, step.more));
    EXPECT_EQ(run.exit_code, step.exit_code) << step.what << "\n" << Printed(run);
    EXPECT_TRUE(run.HasLine({step.says})) << step.what << "\n" << run.out;
    std::string after = ReadBytes(s.Record());
    EXPECT_EQ(Value(after, "version"), step.version) << step.what;
    if (step.exit_code != 0) EXPECT_EQ(after, before) << step.what;
  }
  std::string record = ReadBytes(s.Record());
  EXPECT_EQ(Value(record, "signing_key"), s.signing2_hex);
  ToolRun check = Check(s.feed, CheckRoot(s.root_hex));
  EXPECT_TRUE(check.HasLine({"keys.ini: signed by a root key; key version 7"})) << check.out;

  // pack signs only with the key the record names.
  std::string record_now = ReadBytes(s.Record());
  ToolRun other = Pack(s.c11, s.feed, L"--sign " + Quoted(s.signing1));
  EXPECT_EQ(other.exit_code, 1u) << Printed(other);
  EXPECT_TRUE(other.HasLine({"problem: the record names another signing key: keys.ini names " + s.signing2_hex}))
      << other.out;
  EXPECT_FALSE(Exists(s.Manifest()));
  ToolRun unsigned_pack = Pack(s.c11, s.feed);
  EXPECT_EQ(unsigned_pack.exit_code, 1u) << Printed(unsigned_pack);
  EXPECT_TRUE(unsigned_pack.HasLine({"problem: the feed has a key record (keys.ini)", "give --sign"})) << unsigned_pack.out;
  EXPECT_FALSE(Exists(s.Manifest()));

  // Refusals that write nothing.
  std::wstring inside = Join(s.feed, L"root.pem");
  ASSERT_TRUE(CopyFileW(RootKey1().c_str(), inside.c_str(), FALSE));
  ToolRun leak = Keys(s.feed, KeyArgs(inside, s.signing2));
  EXPECT_EQ(leak.exit_code, 1u) << Printed(leak);
  EXPECT_TRUE(leak.HasLine({"problem: --root-key ", "root.pem: the private key lies inside the feed folder"})) << leak.out;
  DeleteFileW(inside.c_str());
  ToolRun same = Keys(s.feed, KeyArgs(RootKey1(), RootKey1()));
  EXPECT_EQ(same.exit_code, 1u) << Printed(same);
  EXPECT_TRUE(same.HasLine({"problem: the signing key is the root key"})) << same.out;
  EXPECT_EQ(ReadBytes(s.Record()), record_now);

  for (const wchar_t* bad : {L"--signing-key x", L"--root-key x", L"--root-key x --signing-key y --version 0",
                             L"--root-key x --signing-key y --expires 0", L"--root-key x --signing-key y --expires-at 2030-01-01T00:00:00Z"}) {
    ToolRun run = Keys(s.feed, bad);
    EXPECT_EQ(run.exit_code, 2u) << Utf8(bad) << "\n" << Printed(run);
  }
}

TEST(ReleaseKeys, ANewRootIsSignedByBothAndTrustedThroughTheChain) {
  KeyedSetup s;
  ASSERT_EQ(Keys(s.feed, KeyArgs(RootKey1(), s.signing1)).exit_code, 0u);
  ToolRun rotate = Keys(s.feed, KeyArgs(RootKey1(), s.signing1, L"--new-root " + Quoted(s.new_root)));
  ASSERT_EQ(rotate.exit_code, 0u) << Printed(rotate);
  EXPECT_TRUE(rotate.HasLine({"keys.ini written: key version 2"})) << rotate.out;
  EXPECT_TRUE(rotate.HasLine({"root rotation: " + s.root_hex + " hands over to " + s.new_root_hex})) << rotate.out;
  std::string record = ReadBytes(s.Record());
  EXPECT_NE(record.find("\r\n\r\n[rotation.1]\r\nfrom=" + s.root_hex + "\r\nto=" + s.new_root_hex + "\r\nsignature="),
            std::string::npos)
      << record;

  // The last line is the new root's: it alone verifies the record, and the
  // old root verifies it only through the rotation, whose signature is the
  // old root's.
  ToolRun by_new = Check(s.feed, CheckRoot(s.new_root_hex));
  EXPECT_TRUE(by_new.HasLine({"keys.ini: signed by a root key; key version 2"})) << by_new.out;
  ToolRun by_old = Check(s.feed, CheckRoot(s.root_hex));
  EXPECT_TRUE(by_old.HasLine({"keys.ini: signed by a root key; key version 2"})) << by_old.out;
  EXPECT_TRUE(by_old.HasLine({"keys.ini: its root rotations hand over to " + s.new_root_hex})) << by_old.out;
  std::string signature = Value(record, "signature");
  std::string spoiled_signature = signature;
  spoiled_signature[10] = spoiled_signature[10] == '0' ? '1' : '0';
  std::string body = WithLine(Body(record), "signature", spoiled_signature.c_str());
  WriteBytes(s.Record(), body + SignatureLine(body, s.new_root));
  ToolRun broken_chain = Check(s.feed, CheckRoot(s.root_hex));
  EXPECT_TRUE(broken_chain.HasLine({"problem: keys.ini: no root key given", kKeyRecord})) << broken_chain.out;
  EXPECT_TRUE(Check(s.feed, CheckRoot(s.new_root_hex)).HasLine({"keys.ini: signed by a root key"}));
  body = Body(record);
  WriteBytes(s.Record(), body + SignatureLine(body, s.new_root));
  EXPECT_TRUE(Check(s.feed, CheckRoot(s.root_hex)).HasLine({"keys.ini: signed by a root key"}));

  // The updater pinned to the suite's roots follows the hand-over and
  // records the new root.
  ASSERT_EQ(Pack(s.c11, s.feed, L"--sign " + Quoted(s.signing1)).exit_code, 0u);
  RootedClient client(Join(s.root, L"install"), s.releases.v10);
  ExpectUpdated(client, s.feed, s.releases, "after the hand-over");
  EXPECT_NE(client.Recorded(L"root.keys").find(s.new_root_hex), std::string::npos) << client.Recorded(L"root.keys");

  // Signed by the new root, the next record carries the rotation on.
  ToolRun next = Keys(s.feed, KeyArgs(s.new_root, s.signing2));
  ASSERT_EQ(next.exit_code, 0u) << Printed(next);
  EXPECT_EQ(Value(ReadBytes(s.Record()), "from"), s.root_hex);
  EXPECT_TRUE(Check(s.feed, CheckRoot(s.root_hex)).HasLine({"keys.ini: signed by a root key; key version 3"}));
  // Signed by the old root again, it cannot: the rotation is left out and
  // the tool says why.
  ToolRun back = Keys(s.feed, KeyArgs(RootKey1(), s.signing2));
  ASSERT_EQ(back.exit_code, 0u) << Printed(back);
  EXPECT_TRUE(back.HasLine({"note: keys.ini's root rotations do not lead to this root key"})) << back.out;
  EXPECT_EQ(ReadBytes(s.Record()).find("[rotation."), std::string::npos);
  ExpectRefused(client, s.feed, kKeyRecord, "a record of the old root after the hand-over");
}

TEST(ReleaseKeys, ResignChangesOnlyTheSerialTheTimesAndTheSignature) {
  KeyedSetup s;
  ASSERT_EQ(Keys(s.feed, KeyArgs(RootKey1(), s.signing1)).exit_code, 0u);
  ASSERT_EQ(Pack(s.c11, s.feed, L"--sign " + Quoted(s.signing1) + L" --expires 3").exit_code, 0u);
  std::string before = ReadBytes(s.Manifest());
  ToolRun resign = Resign(s.feed, L"--sign " + Quoted(s.signing1) + L" --expires 60");
  ASSERT_EQ(resign.exit_code, 0u) << Printed(resign);
  EXPECT_TRUE(resign.HasLine({"manifest.ini signed again, serial 2, key version 1, expires "})) << resign.out;
  std::string after = ReadBytes(s.Manifest());
  std::vector<std::string> old_lines = CrLfLines(before), new_lines = CrLfLines(after);
  ASSERT_EQ(old_lines.size(), new_lines.size());
  for (size_t i = 0; i < old_lines.size(); ++i) {
    if (old_lines[i] == new_lines[i]) continue;
    std::string key = old_lines[i].substr(0, old_lines[i].find('=') + 1);
    EXPECT_TRUE(key == "serial=" || key == "signed=" || key == "expires=" || key == ";signature=")
        << "line " << i << ": " << old_lines[i] << " -> " << new_lines[i];
    EXPECT_EQ(new_lines[i].substr(0, key.size()), key) << "line " << i;
  }
  EXPECT_EQ(Value(after, "serial"), "2");
  EXPECT_EQ(Seconds(Value(after, "expires")) - Seconds(Value(after, "signed")), 60u * kDay);
  EXPECT_NE(Value(after, "expires"), Value(before, "expires"));
  EXPECT_NE(after.substr(after.size() - 141), before.substr(before.size() - 141));

  ToolRun check = Check(s.feed, CheckRoot(s.root_hex));
  EXPECT_EQ(check.exit_code, 0u) << Printed(check);
  EXPECT_TRUE(check.HasLine({"manifest.ini: serial 2"})) << check.out;
  // The release is the same: the history takes the re-signed manifest as
  // its live entry, and prune as its newest.
  ToolRun history = RunReleaseTool(L"history " + Quoted(s.feed));
  EXPECT_EQ(history.exit_code, 0u) << Printed(history);
  EXPECT_TRUE(history.HasLine({"1: ", "live (signed again by resign)"})) << history.out;
  ToolRun prune = RunReleaseTool(L"prune " + Quoted(s.feed) + L" --keep 1 --dry-run");
  EXPECT_EQ(prune.exit_code, 0u) << Printed(prune);
  RootedClient client(Join(s.root, L"install"), s.releases.v10);
  ExpectUpdated(client, s.feed, s.releases, "re-signed");

  // A leaked signing key: one keys run retires it, and the live release is
  // signed again by the new key under the new version.
  ToolRun retire = Keys(s.feed, KeyArgs(RootKey1(), s.signing2));
  ASSERT_EQ(retire.exit_code, 0u) << Printed(retire);
  EXPECT_TRUE(retire.HasLine({"note: manifest.ini names key version 1", "resign"})) << retire.out;
  ToolRun revoked = Check(s.feed, CheckRoot(s.root_hex));
  EXPECT_EQ(revoked.exit_code, 1u);
  EXPECT_TRUE(revoked.HasLine({"problem: manifest.ini names key version 1, retired by keys.ini's version 2", kRevoked}))
      << revoked.out;
  ToolRun old_key = Resign(s.feed, L"--sign " + Quoted(s.signing1));
  EXPECT_EQ(old_key.exit_code, 1u);
  EXPECT_TRUE(old_key.HasLine({"problem: the record names another signing key"})) << old_key.out;
  ToolRun new_key = Resign(s.feed, L"--sign " + Quoted(s.signing2));
  ASSERT_EQ(new_key.exit_code, 0u) << Printed(new_key);
  EXPECT_EQ(Value(ReadBytes(s.Manifest()), "key_version"), "2");
  EXPECT_EQ(Check(s.feed, CheckRoot(s.root_hex)).exit_code, 0u);
  ExpectUpdated(client, s.feed, s.releases, "signed by the new key");
  EXPECT_EQ(client.Recorded(L"key.version"), "2");

  // Without a key record there is no expiry to renew.
  std::wstring plain = Join(s.root, L"plain");
  ASSERT_EQ(Pack(s.c11, plain, L"--sign " + Quoted(s.signing1)).exit_code, 0u);
  ToolRun none = Resign(plain, L"--sign " + Quoted(s.signing1));
  EXPECT_EQ(none.exit_code, 1u);
  EXPECT_TRUE(none.HasLine({"problem: ", "keys.ini: missing"})) << none.out;
}

// A manifest expiry asked of pack, and what pack and check say of it.
struct ExpiryCase {
  const char* what;
  const wchar_t* option;
  const char* pack_says;   // a line pack prints, or null
  DWORD check_exit;
  std::vector<std::string> check_says;  // pieces of one line check prints
  bool near_note;                       // check notes a near expiry
};

const ExpiryCase kExpiryCases[] = {
    {"a time past", L"--expires-at 2001-02-03T04:05:06Z", "note: --expires-at 2001-02-03T04:05:06Z is already past", 1,
     {"problem: manifest.ini expired at 2001-02-03T04:05:06Z", kExpired}, false},
    {"three days", L"--expires 3", nullptr, 0, {"note: manifest.ini expires at ", "resign"}, true},
    {"the default", L"", nullptr, 0, {"no problems"}, false},
    {"a time far ahead", L"--expires-at 2099-01-01T00:00:00Z", nullptr, 0, {"expires 2099-01-01T00:00:00Z"}, false},
};

TEST(ReleaseKeys, PackWritesTheExpiryAskedForAndCheckJudgesIt) {
  KeyedSetup s;
  int n = 0;
  for (const ExpiryCase& c : kExpiryCases) {
    std::wstring feed = Join(s.root, L"feed-" + std::to_wstring(++n));
    ASSERT_EQ(Keys(feed, KeyArgs(RootKey1(), s.signing1)).exit_code, 0u) << c.what;
    ToolRun pack = Pack(s.c11, feed, L"--sign " + Quoted(s.signing1) + L" " + c.option);
    ASSERT_EQ(pack.exit_code, 0u) << c.what << "\n" << Printed(pack);
    if (c.pack_says) EXPECT_TRUE(pack.HasLine({c.pack_says})) << c.what << "\n" << pack.out;
    if (!c.pack_says) EXPECT_TRUE(pack.Lines("note: ").empty()) << c.what << "\n" << pack.out;
    ToolRun check = Check(feed, CheckRoot(s.root_hex));
    EXPECT_EQ(check.exit_code, c.check_exit) << c.what << "\n" << Printed(check);
    EXPECT_TRUE(check.HasLine(c.check_says)) << c.what << "\n" << check.out;
    EXPECT_EQ(check.HasLine({"note: manifest.ini expires at "}), c.near_note) << c.what << "\n" << check.out;
  }
  // A record near its end is noted too; it is renewed by keys.
  ASSERT_EQ(Keys(s.feed, KeyArgs(RootKey1(), s.signing1, L"--expires 2")).exit_code, 0u);
  ASSERT_EQ(Pack(s.c11, s.feed, L"--sign " + Quoted(s.signing1)).exit_code, 0u);
  ToolRun closing = Check(s.feed, CheckRoot(s.root_hex));
  EXPECT_EQ(closing.exit_code, 0u) << Printed(closing);
  EXPECT_TRUE(closing.HasLine({"note: keys.ini expires at ", "the keys command"})) << closing.out;

  // Without a key record an expiry is refused, and a signed pack is as
  // before.
  std::wstring plain = Join(s.root, L"plain");
  ToolRun refused = Pack(s.c11, plain, L"--sign " + Quoted(s.signing1) + L" --expires 3");
  EXPECT_EQ(refused.exit_code, 1u) << Printed(refused);
  EXPECT_TRUE(refused.HasLine({"problem: --expires and --expires-at: only a feed with a key record"})) << refused.out;
  EXPECT_FALSE(Exists(Join(plain, L"manifest.ini")));
  for (const wchar_t* bad : {L"--expires 3", L"--sign k --expires 3 --expires-at 2030-01-01T00:00:00Z",
                             L"--sign k --expires-at 2001-02-30T00:00:00Z", L"--sign k --expires-at 2030-01-01",
                             L"--sign k --expires 3651"}) {
    ToolRun run = Pack(s.c11, plain, bad);
    EXPECT_EQ(run.exit_code, 2u) << Utf8(bad) << "\n" << Printed(run);
  }
}

// A record or manifest spoiled after the tool wrote it, and the problem
// check must report for it.
struct Spoil {
  const char* what;
  bool record;  // the record is spoiled, else the manifest
  std::string (*make)(const std::string& good, const KeyedSetup& s);
  std::vector<std::string> says;  // pieces of the problem line
};

const Spoil kSpoils[] = {
    {"a record signed by the signing key, no root", true,
     [](const std::string& good, const KeyedSetup& s) { return Body(good) + SignatureLine(Body(good), s.signing1); },
     {"problem: keys.ini: no root key given", kKeyRecord}},
    {"a record changed after signing", true,
     [](const std::string& good, const KeyedSetup&) { return WithLine(good, "version", "2"); },
     {"problem: keys.ini: no root key given", kKeyRecord}},
    {"a record without its signature line", true, [](const std::string& good, const KeyedSetup&) { return Body(good); },
     {"problem: keys.ini: its last line is no signature line", kKeyRecord}},
    {"an expired record", true,
     [](const std::string& good, const KeyedSetup&) {
       std::string body = WithLine(WithLine(Body(good), "signed", "2000-01-01T00:00:00Z"), "expires", "2001-01-01T00:00:00Z");
       return body + SignatureLine(body, RootKey1());
     },
     {"problem: keys.ini expired at 2001-01-01T00:00:00Z", kExpired}},
    {"a record signed a day ahead", true,
     [](const std::string& good, const KeyedSetup&) {
       std::string body = WithLine(Body(good), "signed", TimeFromNow(kDay).c_str());
       return body + SignatureLine(body, RootKey1());
     },
     {"problem: keys.ini is signed at ", "in the future", kExpired}},
    {"a record of version 0", true,
     [](const std::string& good, const KeyedSetup&) {
       std::string body = WithLine(Body(good), "version", "0");
       return body + SignatureLine(body, RootKey1());
     },
     {"problem: keys.ini [keys] version: \"0\"", kKeyRecord}},
    {"a record signed after it expires", true,
     [](const std::string& good, const KeyedSetup&) {
       std::string body = WithLine(WithLine(Body(good), "signed", "2030-01-02T00:00:00Z"), "expires", "2030-01-01T00:00:00Z");
       return body + SignatureLine(body, RootKey1());
     },
     {"problem: keys.ini [keys]: signed (2030-01-02T00:00:00Z) is after expires", kKeyRecord}},
    {"a record of another format", true,
     [](const std::string& good, const KeyedSetup&) {
       std::string body = WithLine(Body(good), "format", "2");
       return body + SignatureLine(body, RootKey1());
     },
     {"problem: keys.ini [keys] format: \"2\"", kKeyRecord}},
    {"a record whose version retires the manifest's key", true,
     [](const std::string& good, const KeyedSetup&) {
       std::string body = WithLine(Body(good), "version", "2");
       return body + SignatureLine(body, RootKey1());
     },
     {"problem: manifest.ini names key version 1, retired by keys.ini's version 2", kRevoked}},
    {"a manifest whose expiry was edited after signing", false,
     [](const std::string& good, const KeyedSetup&) { return WithLine(good, "expires", "2099-01-01T00:00:00Z"); },
     {"problem: manifest.ini: the signature does not verify with the record's signing key", kBadSignature}},
    {"a manifest naming a version the record does not hold yet", false,
     [](const std::string& good, const KeyedSetup& s) {
       std::string body = WithLine(Body(good), "key_version", "2");
       return body + SignatureLine(body, s.signing1);
     },
     {"problem: manifest.ini names key version 2, but keys.ini holds version 1", kUpdating}},
    {"an expired manifest", false,
     [](const std::string& good, const KeyedSetup& s) {
       std::string body = WithLine(WithLine(Body(good), "signed", "2000-01-01T00:00:00Z"), "expires", "2001-01-01T00:00:00Z");
       return body + SignatureLine(body, s.signing1);
     },
     {"problem: manifest.ini expired at 2001-01-01T00:00:00Z", kExpired}},
    {"a manifest without a key version", false,
     [](const std::string& good, const KeyedSetup& s) {
       std::string body = WithLine(Body(good), "key_version", nullptr);
       return body + SignatureLine(body, s.signing1);
     },
     {"problem: manifest.ini [release] key_version: \"\"", kUnsupported}},
    {"a manifest signed by another key", false,
     [](const std::string& good, const KeyedSetup& s) { return Body(good) + SignatureLine(Body(good), s.signing2); },
     {"problem: manifest.ini: the signature does not verify with the record's signing key", kBadSignature}},
};

TEST(ReleaseKeys, CheckFailsOnEverySpoiledRecordAndManifestAndTakesOpenSslSignatures) {
  KeyedSetup s;
  ASSERT_EQ(Keys(s.feed, KeyArgs(RootKey1(), s.signing1)).exit_code, 0u);
  ASSERT_EQ(Pack(s.c11, s.feed, L"--sign " + Quoted(s.signing1)).exit_code, 0u);
  std::string record = ReadBytes(s.Record()), manifest = ReadBytes(s.Manifest());
  for (const Spoil& spoil : kSpoils) {
    std::string spoiled = spoil.make(spoil.record ? record : manifest, s);
    ASSERT_NE(spoiled, spoil.record ? record : manifest) << spoil.what;
    WriteBytes(spoil.record ? s.Record() : s.Manifest(), spoiled);
    ToolRun check = Check(s.feed, CheckRoot(s.root_hex));
    EXPECT_EQ(check.exit_code, 1u) << spoil.what << "\n" << Printed(check);
    EXPECT_TRUE(check.HasLine(spoil.says)) << spoil.what << "\n" << check.out;
    WriteBytes(s.Record(), record);
    WriteBytes(s.Manifest(), manifest);
  }
  // Both documents signed again by OpenSSL's command line with the same
  // keys: check and the updater take them.
  WriteBytes(s.Record(), Body(record) + SignatureLine(Body(record), RootKey1()));
  WriteBytes(s.Manifest(), Body(manifest) + SignatureLine(Body(manifest), s.signing1));
  ASSERT_NE(ReadBytes(s.Record()), record);
  ToolRun check = Check(s.feed, CheckRoot(s.root_hex));
  EXPECT_EQ(check.exit_code, 0u) << Printed(check);
  RootedClient client(Join(s.root, L"install"), s.releases.v10);
  ExpectUpdated(client, s.feed, s.releases, "signed by OpenSSL");
}

TEST(ReleaseKeys, RollbackSignsTheOlderReleaseUnderTheRecordsVersion) {
  KeyedSetup s;
  ASSERT_EQ(Keys(s.feed, KeyArgs(RootKey1(), s.signing1)).exit_code, 0u);
  ASSERT_EQ(Pack(s.c10, s.feed, L"--sign " + Quoted(s.signing1) + L" --version 1.0").exit_code, 0u);
  ASSERT_EQ(Pack(s.c11, s.feed, L"--sign " + Quoted(s.signing1) + L" --version 1.1").exit_code, 0u);
  ASSERT_EQ(Keys(s.feed, KeyArgs(RootKey1(), s.signing2)).exit_code, 0u);
  ToolRun unsigned_back = RunReleaseTool(L"rollback " + Quoted(s.feed) + L" --to 1");
  EXPECT_EQ(unsigned_back.exit_code, 1u);
  EXPECT_TRUE(unsigned_back.HasLine({"problem: the feed has a key record (keys.ini): give --sign"})) << unsigned_back.out;
  ToolRun back = RunReleaseTool(L"rollback " + Quoted(s.feed) + L" --to 1 --sign " + Quoted(s.signing2) +
                                L" --expires-at 2001-01-01T00:00:00Z");
  ASSERT_EQ(back.exit_code, 0u) << Printed(back);
  EXPECT_TRUE(back.HasLine({"note: --expires-at 2001-01-01T00:00:00Z is already past"})) << back.out;
  std::string manifest = ReadBytes(s.Manifest());
  EXPECT_EQ(Value(manifest, "version"), "1.0");
  EXPECT_EQ(Value(manifest, "serial"), "3");
  EXPECT_EQ(Value(manifest, "key_version"), "2");
  EXPECT_EQ(Value(manifest, "expires"), "2001-01-01T00:00:00Z");
  ToolRun check = Check(s.feed, CheckRoot(s.root_hex));
  EXPECT_TRUE(check.HasLine({"problem: manifest.ini expired at 2001-01-01T00:00:00Z", kExpired})) << check.out;
  ASSERT_EQ(Resign(s.feed, L"--sign " + Quoted(s.signing2)).exit_code, 0u);
  EXPECT_EQ(Check(s.feed, CheckRoot(s.root_hex)).exit_code, 0u);
  ToolRun history = RunReleaseTool(L"history " + Quoted(s.feed));
  EXPECT_TRUE(history.HasLine({"3: version 1.0, serial 3, key version 2, expires 2001-01-01T00:00:00Z",
                               "live (signed again by resign)"}))
      << history.out;
}

}  // namespace
