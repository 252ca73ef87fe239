// network=resilient against the misbehaving loopback feed, with the real
// test build: retries, resumed downloads, answers to ranges that do not
// fit, partial-store entries that cannot be trusted, reuse of a failed
// run's verified files, and the connection that a cut body leaves behind.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/feed.h"
#include "support/files.h"
#include "support/messages.h"
#include "support/release.h"
#include "support/updater.h"

namespace {

// Retries wait 50 ms instead of seconds, so that the suite stays fast.
const wchar_t kRetryWaitMs[] = L"50";

// A client with the stand-in game current and one data file to fetch,
// pointed at a feed folder of its own with network=resilient.
struct ResilientCase {
  TestFeed feed;
  std::string name;       // the feed folder below the server's root
  std::wstring root;      // the test's folder
  std::string game;       // Quenfar8.exe's bytes
  std::string data;       // the new data file's bytes
  std::string data_path;  // "/<name>/files/data.pak", as the server sees it

  ResilientCase(const std::string& label, size_t data_size, const std::wstring& suffix = L"") {
    EXPECT_TRUE(feed.Load());
    name = "resilient-" + label + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    root = FreshTestFolder(suffix);
    game = ReadBytes(FakeGameExe());
    data = Filler(data_size, 7);
    data_path = "/" + name + "/files/data.pak";
    Release release(feed.Folder(name));
    release.AddFile("Quenfar8.exe", game);
    release.AddFile("data.pak", data);
    release.WriteManifest();
  }

  InstallFolder Client(const std::wstring& folder = L"client", bool resilient = true) const {
    InstallFolder install(Join(root, folder));
    WriteBytes(install.Path(L"Quenfar8.exe"), game);
    WriteBytes(install.Path(L"Quenfar8Updater.ini"),
               "[updater]\r\nfeed=" + feed.Url(name) + "\r\n" + (resilient ? "network=resilient\r\n" : ""));
    return install;
  }

  // The partial store's file for the data file.
  std::wstring PartialData(const InstallFolder& install) const {
    return Join(install.WorkFolder(), L"partial\\" + Wide(DigestOf(data)));
  }
};

size_t RetryLines(const std::vector<std::string>& log) {
  size_t count = 0;
  for (const std::string& line : log) {
    if (line.compare(0, sizeof kRetryingPrefix - 1, kRetryingPrefix) == 0) ++count;
  }
  return count;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// A failure of the connection or a transient status is tried again; the
// run ends with the file and the requests say what was asked each time.
TEST(Resilient, TransientFailuresAreTriedAgain) {
  ScopedEnv wait(L"QUENFAR8_TEST_RETRY_MS", kRetryWaitMs);
  const size_t kSize = 300000;
  // FROM in a range stands for where the second request starts. After a
  // reset or a time-out the bytes that reached the machine but not the
  // program are lost (a reset drops what the socket still holds; the HTTP
  // stack drops its part-filled read), so the rest starts somewhere after
  // byte 0 and no later than the cut: wherever the stored bytes end, which
  // the test reads from the request itself. A clean close loses nothing.
  struct {
    const char* what;
    const char* control;
    std::vector<std::string> gets;  // the data file's requests
    size_t retries;
    size_t cut;  // FROM's upper bound; 0 when no range has FROM
  } const cases[] = {
      {"a reset mid-body: the rest is asked for",
       "cut 100000 1",
       {"- - 200", "bytes=FROM-299999 ETAG 206"},
       1, 100000},
      {"a stall longer than the receive time-out",
       "stall 15000 1",
       {"- - 200", "bytes=FROM-299999 ETAG 206"},
       1, 150000},
      {"503 then 200", "status 503 1", {"- - 503", "- - 200"}, 1, 0},
      {"429 with Retry-After, twice", "status 429 2 1", {"- - 429", "- - 429", "- - 200"}, 2, 0},
      {"a clean close mid-body, twice",
       "cutclean 120000 2",
       {"- - 200", "bytes=120000-299999 ETAG 206", "bytes=120000-299999 ETAG 206"},
       2, 0},
  };
  int i = 0;
  for (const auto& c : cases) {
    ResilientCase test("transient", kSize, std::to_wstring(i++));
    InstallFolder install = test.Client();
    test.feed.Control(test.data_path, c.control);
    // Only the stall needs a shorter receive time-out than the 30 s a
    // player has; 3 s is still generous for a loopback read elsewhere.
    std::unique_ptr<ScopedEnv> receive;
    if (std::string(c.control).compare(0, 5, "stall") == 0) {
      receive.reset(new ScopedEnv(L"QUENFAR8_TEST_RECEIVE_MS", L"3000"));
    }
    DWORD start = GetTickCount();
    InstallFolder::Result run = install.Update(L"/quiet");
    DWORD took = GetTickCount() - start;
    EXPECT_EQ(run.outcome.exit_code, 0u) << c.what << "\n" << Joined(run.log);
    EXPECT_EQ(ReadBytes(install.Path(L"data.pak")), test.data) << c.what;
    EXPECT_EQ(RetryLines(run.log), c.retries) << c.what << "\n" << Joined(run.log);
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(run.log.back(), kReady) << c.what;
    std::vector<std::string> gets = test.feed.Gets(test.data_path);
    // The validator is the server's own; whatever it is, it is sent back.
    std::vector<std::string> expected;
    for (std::string line : c.gets) {
      size_t at = line.find("ETAG");
      if (at != std::string::npos && gets.size() > 0) {
        size_t open = gets.back().find('"');
        size_t close = open == std::string::npos ? open : gets.back().find('"', open + 1);
        if (close != std::string::npos) line.replace(at, 4, gets.back().substr(open, close - open + 1));
      }
      at = line.find("FROM");
      if (at != std::string::npos && gets.size() > 1 && gets[1].compare(0, 6, "bytes=") == 0) {
        size_t from = strtoul(gets[1].c_str() + 6, nullptr, 10);
        EXPECT_GT(from, 0u) << c.what << ": nothing of the first answer was kept";
        EXPECT_LE(from, c.cut) << c.what << ": the rest starts past the bytes that came";
        line.replace(at, 4, std::to_string(from));
      }
      expected.push_back(line);
    }
    EXPECT_EQ(gets, expected) << c.what;
    EXPECT_FALSE(Exists(test.PartialData(install))) << c.what << ": the store keeps nothing of a finished file";
    // The 429 case asked for a second each time, and got it.
    if (std::string(c.control) == "status 429 2 1") {
      EXPECT_GE(took, 2000u) << c.what;
    }
  }
}

// A status that a retry cannot change, and a refused certificate, are asked
// exactly once; the client is as it was.
TEST(Resilient, PermanentFailuresAreAskedOnce) {
  ScopedEnv wait(L"QUENFAR8_TEST_RETRY_MS", kRetryWaitMs);
  struct {
    const char* what;
    const char* control;
  } const cases[] = {
      {"404", "status 404"},
      {"403", "status 403"},
  };
  int i = 0;
  for (const auto& c : cases) {
    ResilientCase test("permanent", 50000, std::to_wstring(i++));
    InstallFolder install = test.Client();
    test.feed.Control(test.data_path, c.control);
    InstallFolder::Result run = install.Update(L"/quiet");
    EXPECT_EQ(run.outcome.exit_code, 1u) << c.what;
    EXPECT_EQ(RetryLines(run.log), 0u) << c.what;
    ASSERT_GE(run.log.size(), 2u) << c.what;
    EXPECT_EQ(run.log[run.log.size() - 2], kDownloadFailed) << c.what;
    EXPECT_EQ(run.log.back(), kDownloadCheck) << c.what;
    EXPECT_EQ(test.feed.Gets(test.data_path).size(), 1u) << c.what;
    EXPECT_FALSE(Exists(install.Path(L"data.pak"))) << c.what;
  }

  // The manifest on a server whose certificate nobody trusts: one
  // handshake, refused, and no second connection.
  ResilientCase test("certificate", 1000, L"certificate");
  InstallFolder install = test.Client();
  WriteBytes(install.Path(L"Quenfar8Updater.ini"),
             "[updater]\r\nfeed=" + test.feed.UntrustedUrl(test.name) + "\r\nnetwork=resilient\r\n");
  const std::string mark = "\n" + std::to_string(test.feed.untrusted_port) + ": no request";
  auto refusals = [&] {
    const std::string hits = "\n" + test.feed.Hits();
    size_t count = 0;
    for (size_t at = hits.find(mark); at != std::string::npos; at = hits.find(mark, at + 1)) ++count;
    return count;
  };
  size_t before = refusals();
  InstallFolder::Result run = install.Update(L"/quiet");
  EXPECT_EQ(run.outcome.exit_code, 1u);
  EXPECT_EQ(run.log, (std::vector<std::string>{kDownloadFailed}));
  // The server records the connection once the client has closed it.
  EXPECT_TRUE(WaitFor([&] { return refusals() >= before + 1; }));
  EXPECT_EQ(refusals(), before + 1);
}

// Without the key a cut body ends the run at once, and nothing is kept.
TEST(Resilient, DefaultModeTriesOnceAndKeepsNothing) {
  ResilientCase test("default", 200000);
  InstallFolder install = test.Client(L"client", false);
  test.feed.Control(test.data_path, "cut 100000");
  InstallFolder::Result run = install.Update(L"/quiet");
  EXPECT_EQ(run.outcome.exit_code, 1u);
  EXPECT_EQ(test.feed.Gets(test.data_path), (std::vector<std::string>{"- - 200"}));
  EXPECT_EQ(RetryLines(run.log), 0u);
  EXPECT_FALSE(Exists(Join(install.WorkFolder(), L"partial")));
}

// A first run that ends with half of the data file in the partial store
// (every request cut at the middle); then the server answers the second
// run's range in a way that does not fit. Each case ends with the right
// file after at most one whole fetch.
TEST(Resilient, RangeAnswersThatDoNotFit) {
  ScopedEnv wait(L"QUENFAR8_TEST_RETRY_MS", kRetryWaitMs);
  const size_t kSize = 200000;
  struct {
    const char* what;
    const char* control;            // for the second run
    std::vector<std::string> gets;  // the second run's requests, Range and status
  } const cases[] = {
      {"a server that ignores Range", "norange", {"bytes=100000-199999 200"}},
      {"a 206 that starts earlier", "shift -1", {"bytes=100000-199999 206", "- 200"}},
      {"a 206 that starts later", "shift 1", {"bytes=100000-199999 206", "- 200"}},
      {"a 206 that totals another size", "total 1", {"bytes=100000-199999 206", "- 200"}},
      {"416", "refuse-range", {"bytes=100000-199999 416", "- 200"}},
      {"nothing wrong", "", {"bytes=100000-199999 206"}},
  };
  int i = 0;
  for (const auto& c : cases) {
    ResilientCase test("ranges", kSize, std::to_wstring(i++));
    InstallFolder install = test.Client();
    test.feed.Control(test.data_path, "cutclean 100000");
    InstallFolder::Result first = install.Update(L"/quiet");
    EXPECT_EQ(first.outcome.exit_code, 1u) << c.what;
    EXPECT_EQ(ReadBytes(test.PartialData(install)), test.data.substr(0, 100000)) << c.what;
    size_t earlier = test.feed.Gets(test.data_path).size();

    test.feed.Control(test.data_path, c.control);
    InstallFolder::Result second = install.Update(L"/quiet");
    EXPECT_EQ(second.outcome.exit_code, 0u) << c.what << "\n" << Joined(second.log);
    EXPECT_EQ(ReadBytes(install.Path(L"data.pak")), test.data) << c.what;
    std::vector<std::string> gets = test.feed.Gets(test.data_path);
    std::vector<std::string> seen;
    for (size_t g = earlier; g < gets.size(); ++g) {
      // "<Range> <If-Range> <status>": the validator is the server's own.
      size_t space = gets[g].find(' ');
      size_t last = gets[g].rfind(' ');
      seen.push_back(gets[g].substr(0, space) + gets[g].substr(last));
    }
    EXPECT_EQ(seen, c.gets) << c.what;
    EXPECT_EQ(RetryLines(second.log), 0u) << c.what;
  }
}

// Entries of the partial store that must not be continued: each is dropped
// or caught by the digest, and the file arrives after at most one whole
// fetch.
TEST(Resilient, PartialEntriesThatCannotBeTrusted) {
  ScopedEnv wait(L"QUENFAR8_TEST_RETRY_MS", kRetryWaitMs);
  const size_t kSize = 200000;
  enum class Spoil { kTamper, kLarger, kRecordLies, kOld, kServerChanged };
  struct {
    const char* what;
    Spoil spoil;
    std::vector<std::string> gets;  // the second run's requests, Range and status
  } const cases[] = {
      {"bytes of the partial changed", Spoil::kTamper, {"bytes=100000-199999 206", "- 200"}},
      {"a partial larger than its size", Spoil::kLarger, {"- 200"}},
      {"a record naming another remote path", Spoil::kRecordLies, {"- 200"}},
      {"a record older than a few days", Spoil::kOld, {"- 200"}},
      {"the file changed on the server between runs", Spoil::kServerChanged, {"bytes=100000-199999 200"}},
  };
  int i = 0;
  for (const auto& c : cases) {
    ResilientCase test("untrusted", kSize, std::to_wstring(i++));
    std::wstring served = Join(test.feed.www, Wide(test.name) + L"\\files\\data.pak");
    if (c.spoil == Spoil::kServerChanged) WriteBytes(served, Filler(kSize, 99));  // a broken upload
    InstallFolder install = test.Client();
    test.feed.Control(test.data_path, "cutclean 100000");
    InstallFolder::Result first = install.Update(L"/quiet");
    EXPECT_EQ(first.outcome.exit_code, 1u) << c.what;
    std::wstring partial = test.PartialData(install);
    std::wstring record = partial + L".rec";
    ASSERT_TRUE(Exists(partial) && Exists(record)) << c.what;
    std::string text = ReadBytes(record);
    switch (c.spoil) {
      case Spoil::kTamper: {
        std::string bytes = ReadBytes(partial);
        bytes[5000] ^= 0x55;
        WriteBytes(partial, bytes);
        break;
      }
      case Spoil::kLarger:
        WriteBytes(partial, test.data + "x");
        break;
      case Spoil::kRecordLies:
        text.replace(text.find("remote=files/data.pak"), 21, "remote=files/data.paq");
        WriteBytes(record, text);
        break;
      case Spoil::kOld: {
        size_t at = text.find("since=");
        size_t end = text.find('\r', at);
        long long since = atoll(text.substr(at + 6, end - at - 6).c_str());
        text.replace(at + 6, end - at - 6, std::to_string(since - 4 * 86400));
        WriteBytes(record, text);
        break;
      }
      case Spoil::kServerChanged:
        Sleep(20);  // a new modification time, so a new validator
        WriteBytes(served, test.data);
        break;
    }
    size_t earlier = test.feed.Gets(test.data_path).size();
    test.feed.Control(test.data_path, "");
    InstallFolder::Result second = install.Update(L"/quiet");
    EXPECT_EQ(second.outcome.exit_code, 0u) << c.what << "\n" << Joined(second.log);
    EXPECT_EQ(ReadBytes(install.Path(L"data.pak")), test.data) << c.what;
    std::vector<std::string> gets = test.feed.Gets(test.data_path);
    std::vector<std::string> seen;
    for (size_t g = earlier; g < gets.size(); ++g) {
      size_t space = gets[g].find(' ');
      size_t last = gets[g].rfind(' ');
      seen.push_back(gets[g].substr(0, space) + gets[g].substr(last));
    }
    EXPECT_EQ(seen, c.gets) << c.what;
    EXPECT_FALSE(Exists(partial)) << c.what;
    EXPECT_FALSE(Exists(record)) << c.what;
  }
}

// The free-space check counts only what is still to come: a download that
// holds 600,000 of its 1,000,000 bytes needs room for the other 400,000
// (and the spare room every run keeps), not for the whole file.
TEST(Resilient, FreeSpaceCountsOnlyWhatIsStillToCome) {
  ScopedEnv wait(L"QUENFAR8_TEST_RETRY_MS", kRetryWaitMs);
  ResilientCase test("space", 1000000);
  InstallFolder install = test.Client();
  test.feed.Control(test.data_path, "cutclean 600000");
  InstallFolder::Result first = install.Update(L"/quiet");
  EXPECT_EQ(first.outcome.exit_code, 1u);
  ASSERT_EQ(ReadBytes(test.PartialData(install)).size(), 600000u);
  test.feed.Control(test.data_path, "");
  const unsigned long long kSpare = 16777216;  // what every run keeps beyond its files
  {
    ScopedEnv free_bytes(L"QUENFAR8_TEST_FREE_BYTES", std::to_wstring(kSpare + 400000 - 1));
    InstallFolder::Result short_of_room = install.Update(L"/quiet");
    EXPECT_EQ(short_of_room.outcome.exit_code, 1u);
    ASSERT_FALSE(short_of_room.log.empty());
    EXPECT_EQ(short_of_room.log.back(), kNoSpace);
    EXPECT_EQ(ReadBytes(test.PartialData(install)).size(), 600000u) << "the refused run keeps the partial";
  }
  ScopedEnv free_bytes(L"QUENFAR8_TEST_FREE_BYTES", std::to_wstring(kSpare + 400000));
  InstallFolder::Result enough = install.Update(L"/quiet");
  EXPECT_EQ(enough.outcome.exit_code, 0u) << Joined(enough.log);
  EXPECT_EQ(ReadBytes(install.Path(L"data.pak")), test.data);
  std::vector<std::string> gets = test.feed.Gets(test.data_path);
  ASSERT_FALSE(gets.empty());
  EXPECT_EQ(gets.back().compare(0, 21, "bytes=600000-999999 \""), 0) << gets.back();
}

// A run that fails after staging several verified files (the last one is
// not on the server yet): the next run fetches none of them again, and the
// partial store keeps nothing the manifest does not name.
TEST(Resilient, FailedRunsStagedFilesAreNotFetchedTwice) {
  ScopedEnv wait(L"QUENFAR8_TEST_RETRY_MS", kRetryWaitMs);
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  const std::string name = "resilient-reuse-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  std::wstring root = FreshTestFolder();
  const std::string game = ReadBytes(FakeGameExe());
  Release release(feed.Folder(name));
  release.AddFile("Quenfar8.exe", game);
  std::vector<std::string> contents;
  for (int f = 0; f < 3; ++f) {
    contents.push_back(Filler(100000 + f * 1000, 20 + f));
    release.AddFile("part" + std::to_string(f) + ".pak", contents.back());
  }
  const std::string last = Filler(5000, 30);
  release.AddFile("zlast.pak", last);
  release.WriteManifest();
  InstallFolder install(Join(root, L"client"));
  WriteBytes(install.Path(L"Quenfar8.exe"), game);
  WriteBytes(install.Path(L"Quenfar8Updater.ini"), "[updater]\r\nfeed=" + feed.Url(name) + "\r\nnetwork=resilient\r\n");
  // A stray entry of an older release in the store.
  std::wstring stray = Join(install.WorkFolder(), L"partial\\" + std::wstring(64, L'a'));
  MakeFolder(install.WorkFolder());
  MakeFolder(Join(install.WorkFolder(), L"partial"));
  WriteBytes(stray, "old");
  WriteBytes(stray + L".rec", "remote=files/old\r\nsize=9\r\nvalidator=\r\nsince=1\r\n");

  const std::string last_path = "/" + name + "/files/zlast.pak";
  feed.Control(last_path, "status 404");
  InstallFolder::Result first = install.Update(L"/quiet");
  EXPECT_EQ(first.outcome.exit_code, 1u);
  EXPECT_EQ(ListFolder(Join(first.run_folder, L"new")),
            (std::vector<std::wstring>{L"part0.pak", L"part1.pak", L"part2.pak"}));

  feed.Control(last_path, "");
  InstallFolder::Result second = install.Update(L"/quiet");
  EXPECT_EQ(second.outcome.exit_code, 0u) << Joined(second.log);
  for (int f = 0; f < 3; ++f) {
    EXPECT_EQ(ReadBytes(install.Path(Wide("part" + std::to_string(f) + ".pak"))), contents[f]);
    EXPECT_EQ(feed.Gets("/" + name + "/files/part" + std::to_string(f) + ".pak").size(), 1u) << f;
  }
  EXPECT_EQ(ReadBytes(install.Path(L"zlast.pak")), last);
  EXPECT_EQ(feed.Gets(last_path).size(), 2u);
  EXPECT_TRUE(ListFolder(Join(first.run_folder, L"new")).empty());
  EXPECT_TRUE(ListFolder(Join(install.WorkFolder(), L"partial")).empty()) << "the stray entry is pruned";
}

// A body whose announced length is shorter than what the server sends
// would leave bytes on its connection; the next request must not read
// them as its answer. The file after it is fetched once, without a retry.
TEST(Resilient, ARetryNeverLandsOnALeftoverBody) {
  ScopedEnv wait(L"QUENFAR8_TEST_RETRY_MS", kRetryWaitMs);
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  const std::string name = "resilient-leftover-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  std::wstring root = FreshTestFolder();
  const std::string game = ReadBytes(FakeGameExe());
  const std::string first = Filler(150000, 40);
  const std::string second = Filler(70, 41);
  Release release(feed.Folder(name));
  release.AddFile("Quenfar8.exe", game);
  release.AddFile("a.pak", first);
  release.AddFile("b.pak", second);
  release.WriteManifest();
  InstallFolder install(Join(root, L"client"));
  WriteBytes(install.Path(L"Quenfar8.exe"), game);
  WriteBytes(install.Path(L"Quenfar8Updater.ini"), "[updater]\r\nfeed=" + feed.Url(name) + "\r\nnetwork=resilient\r\n");
  feed.Control("/" + name + "/files/a.pak", "long 1000 1");

  InstallFolder::Result run = install.Update(L"/quiet");
  EXPECT_EQ(run.outcome.exit_code, 0u) << Joined(run.log);
  EXPECT_EQ(ReadBytes(install.Path(L"a.pak")), first);
  EXPECT_EQ(ReadBytes(install.Path(L"b.pak")), second);
  EXPECT_EQ(RetryLines(run.log), 1u) << Joined(run.log);
  EXPECT_EQ(feed.Gets("/" + name + "/files/a.pak"), (std::vector<std::string>{"- - 200", "- - 200"}));
  EXPECT_EQ(feed.Gets("/" + name + "/files/b.pak"), (std::vector<std::string>{"- - 200"}));
}

// One connection carries every request of a resilient run (the manifest
// and each file).
TEST(Resilient, OneConnectionCarriesTheRun) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  std::wstring root = FreshTestFolder();
  const std::string game = ReadBytes(FakeGameExe());
  for (int resilient = 0; resilient < 2; ++resilient) {
    const std::string name = "resilient-connection-" + std::to_string(resilient) + "-" +
                             std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    Release release(feed.Folder(name));
    release.AddFile("Quenfar8.exe", game);
    for (int f = 0; f < 6; ++f) release.AddFile("small" + std::to_string(f) + ".dat", Filler(3000 + f, 50 + f));
    release.WriteManifest();
    InstallFolder install(Join(root, L"client" + std::to_wstring(resilient)));
    WriteBytes(install.Path(L"Quenfar8.exe"), game);
    WriteBytes(install.Path(L"Quenfar8Updater.ini"), "[updater]\r\nfeed=" + feed.Url(name) + "\r\n" +
                                                         (resilient ? "network=resilient\r\n" : ""));
    InstallFolder::Result run = install.Update(L"/quiet");
    EXPECT_EQ(run.outcome.exit_code, 0u) << resilient;
    std::vector<int> ports = feed.ConnectionsBelow("/" + name + "/");
    ASSERT_EQ(ports.size(), 7u) << resilient;
    std::vector<int> distinct = ports;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    // Wine keeps connections in a pool of the whole process, so the default
    // mode's session per request may share one too: only the resilient
    // mode promises it.
    if (resilient) {
      EXPECT_EQ(distinct.size(), 1u);
    }
    printf("[connections] %s mode: %zu requests over %zu connections\n", resilient ? "resilient" : "default",
           ports.size(), distinct.size());
  }
}

}  // namespace
