// Signed releases: an updater built with the test suite's publisher key
// takes only manifests that key signed and never goes back to an older
// serial; an updater without a key reads signed manifests as before; the
// release tool signs and checks in the standard form that OpenSSL makes.
#include <gtest/gtest.h>

#include "support/nginx_feed.h"
#include "support/messages.h"
#include "tests/release/publishing.h"

#if !defined(QF8_SIGNED_UPDATER) || !defined(QF8_TEST_SIGNING_KEY) || !defined(QF8_TEST_PUBLIC_KEY)
#error "the build must name the signed test updater and its key"
#endif

namespace {

const char kBadSignature[] = "패치 목록의 서명이 올바르지 않습니다. 배포 주소를 확인해 주세요.";
const char kOlderRelease[] = "설치된 버전보다 오래된 패치 목록입니다. 배포 주소를 확인해 주세요.";

std::wstring SignedUpdaterExe() { return WindowsPath(QF8_SIGNED_UPDATER); }
std::wstring SigningKey() { return WindowsPath(QF8_TEST_SIGNING_KEY); }
std::string PublicKey() { return ReadBytes(WindowsPath(QF8_TEST_PUBLIC_KEY)); }

std::wstring SignWith(const std::wstring& key, uint64_t serial = 0) {
  return L"--sign " + Quoted(key) + (serial ? L" --serial " + std::to_wstring(serial) : L"");
}

// A 1.0 client of a feed, run by the signed updater (or another build).
struct Client {
  InstallFolder install;
  StampedTree before;

  Client(const std::wstring& dir, const ClientFiles& files, const std::wstring& updater = SignedUpdaterExe())
      : install(dir, updater) {
    WriteClient(dir, files);
    EXPECT_TRUE(CopyFileW(TestPatchTool().c_str(), install.Path(L"hpatchz.exe").c_str(), FALSE));
    before = Files();
  }

  // The install folder without the updater's own work folder.
  StampedTree Files() const {
    StampedTree tree = StampedSnapshot(install.dir());
    for (auto it = tree.begin(); it != tree.end();) {
      it = it->first.compare(0, 16, ".quenfar8-update") == 0 ? tree.erase(it) : std::next(it);
    }
    return tree;
  }

  std::wstring Record() const { return Join(install.WorkFolder(), L"release.serial"); }

  InstallFolder::Result FromFolder(const std::wstring& feed) const {
    return install.Update(L"/quiet /package " + Quoted(feed));
  }
};

// The signed manifest's parts: everything before the signature line, and
// the line.
struct SignedText {
  std::string body, line;
  explicit SignedText(const std::string& text) {
    body = text.substr(0, text.size() - 141);
    line = text.substr(text.size() - 141);
  }
};

// A signature line for body made by OpenSSL with the test key: "openssl
// dgst -sha256 -sign", whose DER signature is unwrapped into r and s.
std::string OpenSslSignatureLine(const std::string& body, const std::wstring& folder) {
  MakeFolder(folder);
  static int made = 0;
  std::wstring input = Join(folder, L"body-" + std::to_wstring(++made));
  std::wstring output = input + L".der";
  WriteBytes(input, body);
  std::wstring command = L"openssl dgst -sha256 -sign " + Wide(UnixPathOf(SigningKey())) + L" -out " +
                         Wide(UnixPathOf(output)) + L" " + Wide(UnixPathOf(input));
  EXPECT_TRUE(RunUnixCommand(command, input + L".done"));
  std::string der = ReadBytes(output);
  // SEQUENCE { INTEGER r, INTEGER s }: each integer may carry a leading
  // zero byte or miss leading zeros; both become 32 bytes.
  std::string raw;
  size_t at = 2;
  for (int i = 0; i < 2; ++i) {
    EXPECT_LT(at + 2, der.size());
    if (at + 2 >= der.size()) return "";
    size_t length = uint8_t(der[at + 1]);
    std::string value = der.substr(at + 2, length);
    while (value.size() > 32 && value[0] == '\0') value.erase(0, 1);
    raw += std::string(32 - value.size(), '\0') + value;
    at += 2 + length;
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string line = ";signature=";
  for (unsigned char byte : raw) line += std::string(1, kDigits[byte >> 4]) + kDigits[byte & 15];
  return line + "\r\n";
}

TEST(SignedRelease, ASignedFeedUpdatesFromAFolderAndOverHttps) {
  for (bool over_https : {false, true}) {
    std::wstring root = FreshTestFolder(over_https ? L"https" : L"folder");
    SampleReleases releases;
    std::wstring c11 = Join(root, L"1.1");
    WriteClient(c11, releases.v11);
    NginxFeed server;
    std::wstring feed = Join(root, L"feed");
    std::string url;
    if (over_https) {
      ASSERT_TRUE(server.Load()) << "the nginx fixture is not running";
      std::string name = "signed-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
      feed = server.Folder(name);
      url = server.Url(name);
    }
    ASSERT_EQ(Pack(c11, feed, SignWith(SigningKey(), 7)).exit_code, 0u);

    ToolRun check = Check(over_https ? Wide(url) : feed, L"--public-key " + Wide(PublicKey()));
    EXPECT_EQ(check.exit_code, 0u) << Printed(check);
    EXPECT_TRUE(check.HasLine({"manifest.ini: signed by this key"})) << check.out;
    EXPECT_TRUE(check.HasLine({"manifest.ini: serial 7"})) << check.out;

    Client client(Join(root, L"install"), releases.v10);
    InstallFolder::Result result;
    if (over_https) {
      client.install.WriteFeed(url);
      result = client.install.Update(L"/quiet");
    } else {
      result = client.FromFolder(feed);
    }
    ASSERT_EQ(result.outcome.exit_code, 0u) << (result.log.empty() ? "" : result.log.back());
    for (const auto& file : releases.v11) EXPECT_EQ(ReadBytes(client.install.Path(Wide(file.first))), file.second);
    EXPECT_EQ(ReadBytes(client.Record()), "7");
  }
}

// A signed manifest spoiled after signing, and by what.
struct Forgery {
  const char* what;
  std::string (*spoil)(const SignedText& text, const std::string& other_line);
};

std::string Upper(std::string line) {
  for (char& c : line) c = (c >= 'a' && c <= 'f') ? char(c - 'a' + 'A') : c;
  return line;
}

const Forgery kForgeries[] = {
    {"no signature line", [](const SignedText& t, const std::string&) { return t.body; }},
    {"127 digits", [](const SignedText& t, const std::string&) { return t.body + t.line.substr(0, 138) + "\r\n"; }},
    {"129 digits", [](const SignedText& t, const std::string&) { return t.body + t.line.substr(0, 139) + "0\r\n"; }},
    {"upper-case digits",
     [](const SignedText& t, const std::string&) { return t.body + ";signature=" + Upper(t.line.substr(11)); }},
    {"a line after it", [](const SignedText& t, const std::string&) { return t.body + t.line + "[x]\r\n"; }},
    {"a blank line after it", [](const SignedText& t, const std::string&) { return t.body + t.line + "\r\n"; }},
    {"no line end", [](const SignedText& t, const std::string&) { return t.body + t.line.substr(0, 139); }},
    {"one bit changed",
     [](const SignedText& t, const std::string&) {
       std::string body = t.body;
       size_t at = body.find("version=1.1");
       body[at + 10] ^= 1;  // 1.1 -> 1.0
       return body + t.line;
     }},
    {"another manifest's line", [](const SignedText& t, const std::string& other) { return t.body + other; }},
};

TEST(SignedRelease, EveryForgeryIsRefusedAndNothingChanges) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  ASSERT_EQ(Pack(c10, feed, L"--version 1.0 " + SignWith(SigningKey())).exit_code, 0u);
  std::string line10 = SignedText(ReadBytes(Join(feed, L"manifest.ini"))).line;
  ASSERT_EQ(Pack(c11, feed, L"--version 1.1 " + From(c10) + L" " + SignWith(SigningKey())).exit_code, 0u);
  std::string good = ReadBytes(Join(feed, L"manifest.ini"));
  SignedText signed11(good);

  std::vector<std::pair<std::string, std::string>> forgeries;
  for (const Forgery& forgery : kForgeries) forgeries.emplace_back(forgery.what, forgery.spoil(signed11, line10));
  // Signed by another key: a key pair that keygen makes.
  std::wstring other_key = Join(root, L"other.pem"), other_feed = Join(root, L"other-feed");
  ASSERT_EQ(RunReleaseTool(L"keygen " + Quoted(other_key)).exit_code, 0u);
  ASSERT_EQ(Pack(c11, other_feed, L"--version 1.1 " + From(c10) + L" " + SignWith(other_key)).exit_code, 0u);
  forgeries.emplace_back("another key", ReadBytes(Join(other_feed, L"manifest.ini")));

  for (const auto& forgery : forgeries) {
    ASSERT_NE(forgery.second, good) << forgery.first;
    WriteBytes(Join(feed, L"manifest.ini"), forgery.second);
    Client client(Join(root, L"install-" + Wide(forgery.first)), releases.v10);
    InstallFolder::Result result = client.FromFolder(feed);
    EXPECT_EQ(result.outcome.exit_code, 1u) << forgery.first;
    EXPECT_EQ(result.log, std::vector<std::string>{kBadSignature}) << forgery.first;
    EXPECT_TRUE(client.Files() == client.before) << forgery.first;
    EXPECT_FALSE(Exists(client.Record())) << forgery.first;

    ToolRun check = Check(feed, L"--public-key " + Wide(PublicKey()));
    EXPECT_EQ(check.exit_code, 1u) << forgery.first;
    EXPECT_TRUE(check.HasLine({"problem: manifest.ini: ", kBadSignature})) << forgery.first << "\n" << check.out;
  }
  // The genuine manifest still passes, so the refusals above were the
  // forgeries' doing.
  WriteBytes(Join(feed, L"manifest.ini"), good);
  Client client(Join(root, L"install-genuine"), releases.v10);
  EXPECT_EQ(client.FromFolder(feed).outcome.exit_code, 0u);
}

TEST(SignedRelease, ASerialNeverGoesBack) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1");
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  std::wstring serial2 = Join(root, L"feed-2"), serial1 = Join(root, L"feed-1"), again2 = Join(root, L"feed-2b");
  ASSERT_EQ(Pack(c11, serial2, SignWith(SigningKey(), 2)).exit_code, 0u);
  ASSERT_EQ(Pack(c10, serial1, SignWith(SigningKey(), 1)).exit_code, 0u);
  ASSERT_EQ(Pack(c10, again2, SignWith(SigningKey(), 2)).exit_code, 0u);

  Client client(Join(root, L"install"), releases.v10);
  ASSERT_EQ(client.FromFolder(serial2).outcome.exit_code, 0u);
  EXPECT_EQ(ReadBytes(client.Record()), "2");
  StampedTree at2 = client.Files();

  // Last month's manifest, correctly signed: refused before anything moves.
  InstallFolder::Result older = client.FromFolder(serial1);
  EXPECT_EQ(older.outcome.exit_code, 1u);
  EXPECT_EQ(older.log, std::vector<std::string>{kOlderRelease});
  EXPECT_TRUE(client.Files() == at2);
  EXPECT_EQ(ReadBytes(client.Record()), "2");

  // The same serial is the same release again: accepted (here it carries
  // 1.0's files, as a publisher undoing a release would under a new serial).
  InstallFolder::Result equal = client.FromFolder(again2);
  EXPECT_EQ(equal.outcome.exit_code, 0u);
  EXPECT_EQ(ReadBytes(client.install.Path(L"data.pak")), releases.v10.at("data.pak"));

  // A record that cannot be read counts as none.
  WriteBytes(client.Record(), "not a number");
  EXPECT_EQ(client.FromFolder(serial1).outcome.exit_code, 0u);
  EXPECT_EQ(ReadBytes(client.Record()), "1");
}

TEST(SignedRelease, ASignedManifestWithoutAValidSerialIsRefused) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring c11 = Join(root, L"1.1"), feed = Join(root, L"feed"), key = SigningKey();
  WriteClient(c11, releases.v11);
  for (const char* serial : {"", "0", "-1", "1099511627777", "x"}) {
    // The release tool signs only serials from 1 to 2^40; these are signed
    // here with OpenSSL through the same key.
    ASSERT_EQ(Pack(c11, feed, SignWith(key, 5)).exit_code, 0u);
    std::string body = SignedText(ReadBytes(Join(feed, L"manifest.ini"))).body;
    size_t at = body.find("serial=5\r\n");
    body.replace(at, 10, *serial ? std::string("serial=") + serial + "\r\n" : std::string());
    std::string text = body + OpenSslSignatureLine(body, Join(root, L"openssl"));
    WriteBytes(Join(feed, L"manifest.ini"), text);
    Client client(Join(root, L"install-" + Wide(serial)), releases.v10);
    InstallFolder::Result result = client.FromFolder(feed);
    EXPECT_EQ(result.outcome.exit_code, 1u) << serial;
    EXPECT_EQ(result.log, std::vector<std::string>{kUnsupported}) << serial;
    EXPECT_TRUE(client.Files() == client.before) << serial;
  }
}

TEST(SignedRelease, TheRecordIsWrittenOnlyAfterASuccessfulRun) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  WriteClient(c11, releases.v11);
  ASSERT_EQ(Pack(c11, feed, SignWith(SigningKey(), 3)).exit_code, 0u);
  std::wstring blob = Join(feed, L"files\\" + Wide(DigestOf(releases.v11.at("music.ogg"))));
  std::string music = ReadBytes(blob);
  DeleteFileW(blob.c_str());

  Client client(Join(root, L"install"), releases.v10);
  InstallFolder::Result failed = client.FromFolder(feed);
  EXPECT_EQ(failed.outcome.exit_code, 1u);
  EXPECT_EQ(failed.log.back(), kDownloadCheck);
  EXPECT_FALSE(Exists(client.Record()));

  WriteBytes(blob, music);
  EXPECT_EQ(client.FromFolder(feed).outcome.exit_code, 0u);
  EXPECT_EQ(ReadBytes(client.Record()), "3");
}

TEST(SignedRelease, AnUpdaterWithoutAKeyReadsASignedManifestAsBefore) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1");
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  std::wstring plain = Join(root, L"plain"), signed_feed = Join(root, L"signed");
  ASSERT_EQ(Pack(c11, plain, From(c10)).exit_code, 0u);
  ASSERT_EQ(Pack(c11, signed_feed, From(c10) + L" " + SignWith(SigningKey())).exit_code, 0u);

  Client from_plain(Join(root, L"install-plain"), releases.v10, TestUpdaterExe());
  Client from_signed(Join(root, L"install-signed"), releases.v10, TestUpdaterExe());
  InstallFolder::Result a = from_plain.FromFolder(plain);
  InstallFolder::Result b = from_signed.FromFolder(signed_feed);
  EXPECT_EQ(a.outcome.exit_code, 0u);
  EXPECT_EQ(b.outcome.exit_code, 0u);
  EXPECT_EQ(a.log, b.log);
  for (const auto& file : releases.v11) EXPECT_EQ(ReadBytes(from_signed.install.Path(Wide(file.first))), file.second);
  // Nothing beyond what it always writes: no serial record, the same run
  // folder.
  EXPECT_EQ(Entries(from_signed.install.WorkFolder()).size(), 2u);  // the lock and the run folder
  EXPECT_EQ(Entries(b.run_folder), Entries(a.run_folder));
  EXPECT_FALSE(Exists(from_signed.Record()));
}

TEST(SignedRelease, SignaturesAreTheStandardFormThatOpenSslMakes) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  WriteClient(c11, releases.v11);
  // The test key itself was made by OpenSSL; the release tool signs with it.
  ASSERT_EQ(Pack(c11, feed, SignWith(SigningKey(), 4)).exit_code, 0u);
  std::string body = SignedText(ReadBytes(Join(feed, L"manifest.ini"))).body;
  // Re-signed by OpenSSL itself: the updater and check take that as well.
  WriteBytes(Join(feed, L"manifest.ini"), body + OpenSslSignatureLine(body, Join(root, L"openssl")));
  ToolRun check = Check(feed, L"--public-key " + Wide(PublicKey()));
  EXPECT_EQ(check.exit_code, 0u) << Printed(check);
  Client client(Join(root, L"install"), releases.v10);
  EXPECT_EQ(client.FromFolder(feed).outcome.exit_code, 0u);
  EXPECT_EQ(ReadBytes(client.Record()), "4");

  // keygen writes a key that OpenSSL reads, and prints its public point.
  std::wstring key = Join(root, L"made.pem"), text = Join(root, L"made.txt");
  ToolRun keygen = RunReleaseTool(L"keygen " + Quoted(key));
  ASSERT_EQ(keygen.exit_code, 0u) << Printed(keygen);
  ASSERT_EQ(keygen.lines.size(), 1u);
  ASSERT_TRUE(RunUnixCommand(L"openssl ec -in " + Wide(UnixPathOf(key)) + L" -noout -text -out " + Wide(UnixPathOf(text)),
                             text + L".done"));
  // "pub:" then the point 04 || X || Y in lines of "xx:xx:..."
  std::string printed = ReadBytes(text), point;
  for (size_t at = printed.find("pub:") + 4; at < printed.size(); ++at) {
    char c = printed[at];
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) point += c;
    if (printed.compare(at, 4, "ASN1") == 0) break;
  }
  EXPECT_EQ(point.substr(0, 2), "04");
  EXPECT_EQ(point.substr(2, 128), keygen.lines[0]);
  ToolRun again = RunReleaseTool(L"keygen " + Quoted(key));
  EXPECT_EQ(again.exit_code, 1u);
  EXPECT_TRUE(again.HasLine({"exists already"})) << again.out;
}

TEST(SignedRelease, PackSignsOnlyWhatIsNewAndKeepsItsKeyOutOfTheFeed) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring c10 = Join(root, L"1.0"), c11 = Join(root, L"1.1"), feed = Join(root, L"feed");
  WriteClient(c10, releases.v10);
  WriteClient(c11, releases.v11);
  ASSERT_EQ(Pack(c10, feed, SignWith(SigningKey())).exit_code, 0u);
  EXPECT_NE(ReadBytes(Join(feed, L"manifest.ini")).find("serial=1\r\n"), std::string::npos);
  StampedTree first = StampedSnapshot(feed);
  ToolRun again = Pack(c10, feed, SignWith(SigningKey()));
  EXPECT_TRUE(again.HasLine({"manifest.ini unchanged, signed, serial 1"})) << again.out;
  EXPECT_TRUE(StampedSnapshot(feed) == first);
  ToolRun next = Pack(c11, feed, SignWith(SigningKey()));
  EXPECT_TRUE(next.HasLine({"manifest.ini written, signed, serial 2"})) << next.out;

  ToolRun lower = Pack(c11, feed, SignWith(SigningKey(), 1));
  EXPECT_EQ(lower.exit_code, 1u);
  EXPECT_TRUE(lower.HasLine({"problem: --serial 1", "current serial is 2"})) << lower.out;
  // One serial names one release: the same serial for other bytes is
  // refused, since updaters would take either manifest for the other.
  StampedTree at2 = StampedSnapshot(feed);
  ToolRun same = Pack(c10, feed, SignWith(SigningKey(), 2));
  EXPECT_EQ(same.exit_code, 1u);
  EXPECT_TRUE(same.HasLine({"problem: --serial 2", "another release needs a higher one"})) << same.out;
  EXPECT_TRUE(StampedSnapshot(feed) == at2);

  // A key in the feed folder or in the client folder would be published.
  for (const std::wstring& folder : {feed, c11}) {
    std::wstring inside = Join(folder, L"key.pem");
    ASSERT_TRUE(CopyFileW(SigningKey().c_str(), inside.c_str(), FALSE));
    StampedTree before = StampedSnapshot(feed);
    ToolRun leak = Pack(c11, feed, SignWith(inside));
    EXPECT_EQ(leak.exit_code, 1u);
    EXPECT_TRUE(leak.HasLine({"problem: ", "key.pem", folder == feed ? "inside the feed folder" : "inside the client folder"}))
        << leak.out;
    EXPECT_TRUE(StampedSnapshot(feed) == before);
    DeleteFileW(inside.c_str());
  }

  for (const wchar_t* bad : {L"--serial 3", L"--sign", L"--sign k --serial 0", L"--sign k --serial x"}) {
    ToolRun run = Pack(c11, feed, bad);
    EXPECT_EQ(run.exit_code, 2u) << Utf8(bad);
  }
  for (const char* key : {"", "00", "ABCDEF"}) {
    ToolRun run = Check(feed, L"--public-key " + Wide(key[0] ? key : "\"\""));
    EXPECT_EQ(run.exit_code, 2u) << key;
  }
}

}  // namespace
