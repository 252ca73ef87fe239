// The fetcher: the remote path rule, package copies and HTTPS downloads
// from the loopback feed.
#include <gtest/gtest.h>

#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "app/config.h"
#include "support/feed.h"
#include "support/files.h"
#include "support/harness.h"
#include "support/messages.h"
#include "support/release.h"
#include "transfer/fetch.h"

namespace {

const uint64_t kMiB = 1048576;

// What one FetchFile call did: its result and the status lines it added.
struct Outcome {
  int result;
  std::vector<std::string> lines;
};

Outcome Fetch(const RunHarness& harness, const std::wstring& remote, const std::wstring& destination,
              uint64_t expected_size) {
  size_t before = harness.Log().size();
  Outcome outcome;
  outcome.result = FetchFile(remote.c_str(), destination.c_str(), expected_size);
  std::vector<std::string> log = harness.Log();
  outcome.lines.assign(log.begin() + before, log.end());
  return outcome;
}

// A success shows nothing; a failure shows exactly its one line.
void ExpectOutcome(const Outcome& outcome, const std::string& message, const std::string& what) {
  if (message.empty()) {
    EXPECT_EQ(outcome.result, 1) << what;
    EXPECT_TRUE(outcome.lines.empty()) << what << ": " << (outcome.lines.empty() ? "" : outcome.lines[0]);
  } else {
    EXPECT_EQ(outcome.result, 0) << what;
    EXPECT_EQ(outcome.lines, std::vector<std::string>{message}) << what;
  }
}

void SetFeed(const std::string& url) {
  config.package_dir[0] = L'\0';
  wcscpy(config.feed_url, Wide(url).c_str());
}

// The bytes the loopback server sends for /gen/<size>/...
std::string Generated(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 7 + 3) % 251);
  return bytes;
}

// ---------------------------------------------------------------------------
// The remote path rule

TEST(IsRemotePath, Table) {
  const std::wstring longest(240, L'a');
  const std::wstring folders = L"a/" + std::wstring(236, L'b') + L"/c";  // 240 with separators
  struct {
    const char* what;
    std::wstring text;
    int expected;
  } const cases[] = {
      {"empty", L"", 0},
      {"leading slash", L"/files/a", 0},
      {"only a slash", L"/", 0},
      {"step to the parent", L"files/../a", 0},
      {"parent first", L"../a", 0},
      {"two dots inside a name", L"a..b", 0},
      {"two dots at the end", L"files/a..", 0},
      {"three dots", L"a...b", 0},
      {"upper case", L"files/File.bin", 0},
      {"upper case alone", L"A", 0},
      {"underscore", L"files/a_b", 0},
      {"backslash", L"files\\a", 0},
      {"space", L"files/a b", 0},
      {"colon", L"c:a", 0},
      {"percent", L"a%20b", 0},
      {"question mark", L"a?b", 0},
      {"hash", L"a#b", 0},
      {"comma, just below '-'", L"a,b", 0},
      {"semicolon, just above '9'", L"a;b", 0},
      {"backquote, just below 'a'", L"a`b", 0},
      {"brace, just above 'z'", L"a{b", 0},
      {"non-ASCII letter", L"caf\u00e9", 0},
      {"Hangul", L"\uD328\uCE58", 0},
      {"240 characters", longest, 1},
      {"240 characters with folders", folders, 1},
      {"241 characters", longest + L"a", 0},
      {"leading ./", L"./files/a", 1},
      {"trailing slash", L"files/", 1},
      {"doubled slash", L"files//a", 1},
      {"name with a single leading dot", L".hidden", 1},
      {"single dot in a folder name", L"files/.cache/a.bin", 1},
      {"every allowed character", L"-./0123456789abcdefghijklmnopqrstuvwxyz", 1},
      {"one character", L"a", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRemotePath(c.text.c_str()), c.expected) << c.what;
}

// ---------------------------------------------------------------------------
// Package mode

TEST(FetchPackage, SizeRules) {
  RunHarness harness;
  Release release(harness.package);
  release.Put("ten.bin", "0123456789");
  release.Put("empty.bin", "");
  release.Put("mib.bin", Filler(kMiB, 1));
  release.Put("mib-plus-one.bin", Filler(kMiB + 1, 2));
  struct {
    const char* what;
    const wchar_t* remote;
    uint64_t expected_size;
    const char* message;  // empty for success
  } const cases[] = {
      {"exact size", L"ten.bin", 10, ""},
      {"one byte more expected", L"ten.bin", 11, kPackageSize},
      {"one byte less expected", L"ten.bin", 9, kPackageSize},
      {"unknown size, small file", L"ten.bin", 0, ""},
      {"unknown size, empty file", L"empty.bin", 0, ""},
      {"known size 1, empty file", L"empty.bin", 1, kPackageSize},
      {"unknown size, exactly 1 MiB", L"mib.bin", 0, ""},
      {"unknown size, 1 MiB + 1", L"mib-plus-one.bin", 0, kPackageSize},
      {"known size, 1 MiB + 1", L"mib-plus-one.bin", kMiB + 1, ""},
      {"missing file, unknown size", L"missing.bin", 0, kNoPackageFile},
      {"missing file, known size", L"missing.bin", 10, kNoPackageFile},
      {"missing folder", L"nowhere/ten.bin", 10, kNoPackageFile},
  };
  int i = 0;
  for (const auto& c : cases) {
    std::wstring destination = Join(harness.run, L"out-" + std::to_wstring(i++));
    ExpectOutcome(Fetch(harness, c.remote, destination, c.expected_size), c.message, c.what);
    if (c.message[0] == '\0') {
      EXPECT_EQ(ReadBytes(destination), ReadBytes(Join(harness.package, c.remote))) << c.what;
    } else {
      EXPECT_FALSE(Exists(destination)) << c.what;
    }
  }
}

// A remote path of folders is looked up with backslashes: addressed
// through the \\?\ prefix, where the platform takes every character
// literally, a '/' left in the path would name nothing.
TEST(FetchPackage, FoldersOfTheRemotePathBecomeBackslashes) {
  RunHarness harness;
  Release release(harness.package);
  release.Put("files/sub/deep.bin", "deep content");
  std::wstring literal_package = L"\\\\?\\" + harness.package;
  wcscpy(config.package_dir, literal_package.c_str());

  std::wstring destination = Join(harness.run, L"deep.bin");
  ExpectOutcome(Fetch(harness, L"files/sub/deep.bin", destination, 12), "", "folder/name");
  EXPECT_EQ(ReadBytes(destination), "deep content");

  // The same name with its slashes kept is not a file there.
  EXPECT_EQ(GetFileAttributesW((literal_package + L"\\files/sub/deep.bin").c_str()), INVALID_FILE_ATTRIBUTES)
      << "the platform resolves '/' itself here, so this test would prove nothing";
}

TEST(FetchPackage, CopyFailuresLeaveTheDestinationAlone) {
  RunHarness harness;
  Release release(harness.package);
  release.Put("data.bin", "new content");
  MakeFolder(Join(harness.package, L"folder.bin"));
  std::wstring existing = Join(harness.run, L"existing.bin");
  WriteBytes(existing, "old content");

  struct {
    const char* what;
    const wchar_t* remote;
    uint64_t expected_size;
    std::wstring destination;
    const char* message;
    const char* left;  // what the destination holds afterwards
  } const cases[] = {
      {"destination exists", L"data.bin", 11, existing, kPackageCopy, "old content"},
      {"destination exists, unknown size", L"data.bin", 0, existing, kPackageCopy, "old content"},
      {"destination folder missing", L"data.bin", 11, Join(harness.run, L"nowhere\\data.bin"), kPackageCopy,
       "<missing>"},
      // A folder reports a size within the ceiling, and cannot be copied.
      {"folder in place of the file", L"folder.bin", 0, Join(harness.run, L"folder-copy.bin"), kPackageCopy,
       "<missing>"},
      {"folder in place of a file of known size", L"folder.bin", 7, Join(harness.run, L"folder-copy.bin"),
       kPackageSize, "<missing>"},
  };
  for (const auto& c : cases) {
    ExpectOutcome(Fetch(harness, c.remote, c.destination, c.expected_size), c.message, c.what);
    EXPECT_EQ(ReadBytes(c.destination), c.left) << c.what;
  }
  EXPECT_FALSE(Exists(Join(harness.run, L"nowhere"))) << "the missing folder was created";
  EXPECT_EQ(ReadBytes(Join(harness.package, L"data.bin")), "new content");
}

// With a package folder set, the feed is never consulted, even when it
// could serve the file.
TEST(FetchPackage, FeedIsIgnored) {
  RunHarness harness;
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  Release served(feed.Folder("fetch-package-feed-ignored"));
  served.Put("only-on-feed.bin", "from the feed");
  served.Put("both.bin", "from the feed");
  Release release(harness.package);
  release.Put("both.bin", "from the package");
  wcscpy(config.feed_url, Wide(feed.Url("fetch-package-feed-ignored")).c_str());

  // The feed really serves both files, so a fallback would have worked.
  {
    wchar_t package_dir[PATH_CAPACITY];
    wcscpy(package_dir, config.package_dir);
    config.package_dir[0] = L'\0';
    std::wstring probe = Join(harness.run, L"probe.bin");
    ExpectOutcome(Fetch(harness, L"only-on-feed.bin", probe, 0), "", "feed control");
    EXPECT_EQ(ReadBytes(probe), "from the feed");
    wcscpy(config.package_dir, package_dir);
  }

  std::wstring both = Join(harness.run, L"both.bin");
  ExpectOutcome(Fetch(harness, L"both.bin", both, 0), "", "file in both");
  EXPECT_EQ(ReadBytes(both), "from the package");

  std::wstring only = Join(harness.run, L"only.bin");
  ExpectOutcome(Fetch(harness, L"only-on-feed.bin", only, 0), kNoPackageFile, "file only on the feed");
  EXPECT_FALSE(Exists(only));
}

// A refused remote path is the first test in either mode: nothing is
// looked up, created or deleted, even when a file of that name exists.
TEST(FetchPackage, RefusedRemotePathTouchesNothing) {
  RunHarness harness;
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  Release release(harness.package);
  release.Put("Upper.bin", "upper");
  release.Put("a_b.bin", "underscore");
  std::wstring existing = Join(harness.run, L"existing.bin");
  WriteBytes(existing, "old content");
  const wchar_t* const refused[] = {L"Upper.bin", L"a_b.bin", L"../package/a_b.bin", L"/a_b.bin", L""};
  const std::string feeds[] = {"", feed.Url("fetch-refused-path")};
  for (const std::string& url : feeds) {
    if (url.empty()) {
      wcscpy(config.package_dir, harness.package.c_str());
    } else {
      SetFeed(url);
    }
    for (const wchar_t* remote : refused) {
      std::string what = (url.empty() ? "package: " : "https: ") + Utf8(remote);
      std::wstring fresh = Join(harness.run, L"fresh.bin");
      ExpectOutcome(Fetch(harness, remote, fresh, 0), kBadPath, what);
      EXPECT_FALSE(Exists(fresh)) << what;
      ExpectOutcome(Fetch(harness, remote, existing, 0), kBadPath, what + " onto an existing file");
      EXPECT_EQ(ReadBytes(existing), "old content") << what;
    }
  }
}

// A package folder so long that joining a remote path to it would be cut:
// the cut path names another file, which must never be taken for it.
TEST(FetchPackage, OverlongSourcePathIsNotCut) {
  RunHarness harness;
  std::wstring folder = harness.package;
  const std::wstring remote = L"manifest.ini";
  // Grow the folder until folder + '\\' + remote is exactly 1024 characters,
  // one more than a path holds.
  while (folder.size() + 1 + remote.size() < 1024) {
    size_t room = 1024 - (folder.size() + 1 + remote.size()) - 1;
    folder += L"\\" + std::wstring(room > 200 ? 200 : (room == 0 ? 1 : room), L'p');
    MakeFolder(folder);
  }
  ASSERT_EQ(folder.size() + 1 + remote.size(), 1024u);
  WriteBytes(Join(folder, L"manifest.in"), "the cut name's file");
  wcscpy(config.package_dir, folder.c_str());
  std::wstring destination = Join(harness.run, L"manifest.ini");
  ExpectOutcome(Fetch(harness, remote, destination, 0), kNoPackageFile, "1024 characters");
  EXPECT_FALSE(Exists(destination));

  // One character shorter still fits and is found.
  const std::wstring shorter = L"manifest.in";
  ExpectOutcome(Fetch(harness, shorter, destination, 0), "", "1023 characters");
  EXPECT_EQ(ReadBytes(destination), "the cut name's file");
}

// ---------------------------------------------------------------------------
// HTTPS mode

class FetchHttps : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(feed.Load()) << "the HTTPS fixture is not running";
    token = "t" + std::to_string(GetCurrentProcessId());
    SetFeed(Root());
  }
  // The server's root as feed address, for its /gen/, /status/ and /hit/.
  std::string Root() const { return "https://localhost:" + std::to_string(feed.port) + "/"; }
  std::wstring Destination(const std::string& name) const { return Join(harness.run, Wide(name)); }

  RunHarness harness;
  TestFeed feed;
  std::string token;  // keeps this process's redirect targets apart
};

TEST_F(FetchHttps, BodySizes) {
  Release served(feed.Folder("fetch-https-bodies"));
  const std::string long_body = Filler(300000, 3);  // several chunks and a tail
  served.Put("short.txt", "hello, feed");
  served.Put("long.bin", long_body);
  const std::string base = "fetch-https-bodies/";
  struct {
    const char* what;
    std::string remote;
    uint64_t expected_size;
    int ok;
    std::string content;  // on success
  } const cases[] = {
      {"short body, unknown size", base + "short.txt", 0, 1, "hello, feed"},
      {"short body, exact size", base + "short.txt", 11, 1, "hello, feed"},
      {"short body, one byte more expected", base + "short.txt", 12, 0, ""},
      {"short body, one byte less expected", base + "short.txt", 10, 0, ""},
      {"long body, unknown size", base + "long.bin", 0, 1, long_body},
      {"long body, exact size", base + "long.bin", 300000, 1, long_body},
      {"long body, one byte more expected", base + "long.bin", 300001, 0, ""},
      {"long body, one byte less expected", base + "long.bin", 299999, 0, ""},
      {"unknown size, exactly 1 MiB", "gen/1048576/x", 0, 1, Generated(kMiB)},
      {"unknown size, 1 MiB + 1", "gen/1048577/x", 0, 0, ""},
      {"unknown size, far beyond 1 MiB", "gen/5000000/x", 0, 0, ""},
      {"expected N, N bytes", "gen/100000/x", 100000, 1, Generated(100000)},
      {"expected N, N + 1 bytes", "gen/100001/x", 100000, 0, ""},
      {"expected N, N - 1 bytes", "gen/99999/x", 100000, 0, ""},
      {"expected one chunk, one chunk", "gen/65536/x", 65536, 1, Generated(65536)},
      {"expected one chunk, one byte more", "gen/65537/x", 65536, 0, ""},
      {"expected 2 MiB, 2 MiB (no ceiling)", "gen/2097152/x", 2097152, 1, Generated(2097152)},
      {"expected 1 byte, far more", "gen/5000000/x", 1, 0, ""},
      {"empty body, unknown size", "gen/0/x", 0, 1, ""},
      {"empty body, expected 5", "gen/0/x", 5, 0, ""},
  };
  int i = 0;
  for (const auto& c : cases) {
    std::wstring destination = Destination("out-" + std::to_string(i++));
    ExpectOutcome(Fetch(harness, Wide(c.remote), destination, c.expected_size), c.ok ? "" : kDownloadFailed,
                  c.what);
    if (c.ok) {
      std::string got = ReadBytes(destination);
      EXPECT_EQ(got.size(), c.content.size()) << c.what;
      EXPECT_TRUE(got == c.content) << c.what << ": content differs";
    } else {
      EXPECT_FALSE(Exists(destination)) << c.what << ": a partial download remains";
    }
  }
}

TEST_F(FetchHttps, OnlyStatus200IsAccepted) {
  struct {
    const char* what;
    std::string remote;
    int ok;
  } const cases[] = {
      {"200", "status/200/x", 1},
      {"204", "status/204/x", 0},
      {"206", "status/206/x", 0},
      {"301", "status/301/" + token + "-301", 0},
      {"302", "status/302/" + token + "-302", 0},
      {"304", "status/304/x", 0},
      {"404", "status/404/x", 0},
      {"404 for a missing file", "fetch-no-such-folder/manifest.ini", 0},
      {"500", "status/500/x", 0},
  };
  int i = 0;
  for (const auto& c : cases) {
    std::wstring destination = Destination("out-" + std::to_string(i++));
    ExpectOutcome(Fetch(harness, Wide(c.remote), destination, 0), c.ok ? "" : kDownloadFailed, c.what);
    if (c.ok) {
      EXPECT_EQ(ReadBytes(destination), "status body") << c.what;
    } else {
      EXPECT_FALSE(Exists(destination)) << c.what;
    }
  }
  // The redirect targets were never asked for.
  std::string hits = feed.Hits();
  EXPECT_EQ(hits.find("/hit/" + token + "-301"), std::string::npos) << hits;
  EXPECT_EQ(hits.find("/hit/" + token + "-302"), std::string::npos) << hits;

  // Asking for a target directly is recorded, so the check above can fail.
  std::wstring direct = Destination("direct");
  ExpectOutcome(Fetch(harness, Wide("hit/" + token + "-direct"), direct, 0), "", "direct hit");
  EXPECT_EQ(ReadBytes(direct), "redirect target");
  EXPECT_NE(feed.Hits().find("/hit/" + token + "-direct"), std::string::npos);
}

// The certificate check is the platform's and is not relaxed.
TEST_F(FetchHttps, UntrustedCertificateFails) {
  Release served(feed.Folder("fetch-https-untrusted"));
  served.Put("file.txt", "trusted content");

  SetFeed(feed.Url("fetch-https-untrusted"));
  std::wstring control = Destination("control.txt");
  ExpectOutcome(Fetch(harness, L"file.txt", control, 15), "", "trusted server");
  EXPECT_EQ(ReadBytes(control), "trusted content");

  SetFeed(feed.UntrustedUrl("fetch-https-untrusted"));
  std::wstring destination = Destination("file.txt");
  ExpectOutcome(Fetch(harness, L"file.txt", destination, 15), kDownloadFailed, "untrusted server");
  EXPECT_FALSE(Exists(destination));
}

// A file that was at the destination before the call is not the fetcher's
// to delete: the create-new open fails, and the file stays as it was.
TEST_F(FetchHttps, ExistingDestinationSurvives) {
  Release served(feed.Folder("fetch-https-existing"));
  served.Put("file.txt", "served content");
  SetFeed(feed.Url("fetch-https-existing"));
  std::wstring existing = Destination("existing.txt");
  WriteBytes(existing, "old content");
  struct {
    const char* what;
    const wchar_t* remote;
  } const cases[] = {
      {"answer 200", L"file.txt"},
      {"answer 404", L"missing.txt"},
  };
  for (const auto& c : cases) {
    ExpectOutcome(Fetch(harness, c.remote, existing, 0), kDownloadFailed, c.what);
    EXPECT_EQ(ReadBytes(existing), "old content") << c.what;
  }

  std::wstring below_missing = Join(harness.run, L"nowhere\\file.txt");
  ExpectOutcome(Fetch(harness, L"file.txt", below_missing, 0), kDownloadFailed, "destination folder missing");
  EXPECT_FALSE(Exists(Join(harness.run, L"nowhere")));
}

// Addresses the split refuses, or whose scheme is not HTTPS: nothing is
// opened, so the server is never asked, and nothing is created or deleted.
TEST_F(FetchHttps, AddressesThatAreNotHttps) {
  const std::string port = std::to_string(feed.port);
  struct {
    const char* what;
    std::string feed_url;
  } const cases[] = {
      // The host name buffer holds 255 characters and the terminator.
      {"host name of 256 characters", "https://" + std::string(256, 'h') + "/"},
      {"host name of 600 characters", "https://" + std::string(600, 'h') + ":" + port + "/"},
      {"plain http", "http://localhost:" + port + "/"},
      {"no scheme", "localhost:" + port + "/"},
      {"ftp", "ftp://localhost:" + port + "/"},
  };
  std::wstring existing = Destination("existing.txt");
  WriteBytes(existing, "old content");
  int i = 0;
  for (const auto& c : cases) {
    SetFeed(c.feed_url);
    std::string remote = "hit/" + token + "-address-" + std::to_string(i);
    std::wstring fresh = Destination("fresh-" + std::to_string(i++));
    ExpectOutcome(Fetch(harness, Wide(remote), fresh, 0), kNeedHttps, c.what);
    EXPECT_FALSE(Exists(fresh)) << c.what;
    ExpectOutcome(Fetch(harness, Wide(remote), existing, 0), kNeedHttps, std::string(c.what) + ", existing file");
    EXPECT_EQ(ReadBytes(existing), "old content") << c.what;
    EXPECT_EQ(feed.Hits().find("/hit/" + token + "-address-"), std::string::npos) << c.what;
  }
}

// A host name of 255 characters still fits: the address is accepted and
// the failure is the connection's.
TEST_F(FetchHttps, HostNameOf255CharactersIsAccepted) {
  std::string host;
  while (host.size() < 255 - 8) host += std::string(62, 'h') + ".";
  host = host.substr(0, 255 - 8) + ".invalid";
  ASSERT_EQ(host.size(), 255u);
  SetFeed("https://" + host + "/");
  std::wstring destination = Destination("file.txt");
  ExpectOutcome(Fetch(harness, L"file.txt", destination, 0), kDownloadFailed, "255 characters");
  EXPECT_FALSE(Exists(destination));
}

}  // namespace
