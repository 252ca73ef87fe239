// network=resilient against nginx with the shipped site configuration:
// an updater killed at about 90% of a large whole file finishes it on its
// next start, asking nginx only for the rest.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/messages.h"
#include "support/nginx_feed.h"
#include "support/process.h"
#include "support/release.h"
#include "support/updater.h"

namespace {

// The status and the body bytes of one access-log line
// ("GET <path> <status> <bytes> "<agent>"").
void StatusAndBytes(const std::string& line, int* status, unsigned long long* bytes) {
  size_t path_end = line.find(' ', 4);
  *status = atoi(line.c_str() + path_end + 1);
  size_t bytes_at = line.find(' ', path_end + 1);
  *bytes = strtoull(line.c_str() + bytes_at + 1, nullptr, 10);
}

TEST(ResilientNginx, KilledAtNinetyPercentFetchesOnlyTheRest) {
  NginxFeed feed;
  ASSERT_TRUE(feed.Load()) << "the nginx fixture is not running";
  const std::string name = "resilient-kill-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  std::wstring root = FreshTestFolder();
  const std::string game = ReadBytes(FakeGameExe());
  const size_t kSize = 128u * 1048576u;  // long enough to be caught near 90% on a fast loopback
  const std::string big = Filler(kSize, 11);
  Release release(feed.Folder(name));
  release.AddFile("Quenfar8.exe", game);
  release.AddFile("big.pak", big);
  release.WriteManifest();
  InstallFolder install(Join(root, L"client"));
  WriteBytes(install.Path(L"Quenfar8.exe"), game);
  WriteBytes(install.Path(L"Quenfar8Updater.ini"), "[updater]\r\nfeed=" + feed.Url(name) + "\r\nnetwork=resilient\r\n");
  const std::wstring partial = Join(install.WorkFolder(), L"partial\\" + Wide(DigestOf(big)));

  // The first start is killed once the partial store holds 90% of the file.
  const unsigned long long held = KillUpdaterWhenHeld(install, partial, kSize / 10 * 9, 120000);
  ASSERT_GT(held, 0u) << "the download never reached 90%, or nothing of it was kept";
  ASSERT_LT(held, kSize) << "the kill came after the last byte";
  EXPECT_FALSE(Exists(install.Path(L"big.pak")));

  InstallFolder::Result second = install.Update(L"/quiet", L"", 180000);
  EXPECT_EQ(second.outcome.exit_code, 0u);
  ASSERT_FALSE(second.log.empty());
  EXPECT_EQ(second.log.back(), kReady);
  EXPECT_TRUE(ReadBytes(install.Path(L"big.pak")) == big) << "big.pak is not the release's";
  EXPECT_FALSE(Exists(partial));

  // nginx's own counts: the first start's whole-file request (cut by the
  // kill) and the second start's range, which brought exactly the rest.
  std::vector<std::string> requests;
  const std::string big_path = "GET /" + name + "/files/big.pak ";
  WaitFor([&] {
    requests.clear();
    for (const std::string& line : feed.RequestsFor(name)) {
      if (line.compare(0, big_path.size(), big_path) == 0) requests.push_back(line);
    }
    return requests.size() >= 2;
  });
  ASSERT_EQ(requests.size(), 2u);
  // nginx logs the killed request when it notices the client is gone, which
  // may come after the next start's request.
  int statuses[2] = {0, 0};
  unsigned long long sent[2] = {0, 0};
  for (int r = 0; r < 2; ++r) StatusAndBytes(requests[r], &statuses[r], &sent[r]);
  const int resumed = statuses[0] == 206 ? 0 : 1;
  EXPECT_EQ(statuses[1 - resumed], 200) << requests[1 - resumed];
  EXPECT_GE(sent[1 - resumed], held) << requests[1 - resumed];
  EXPECT_EQ(statuses[resumed], 206) << requests[resumed];
  const unsigned long long bytes = sent[resumed];
  EXPECT_EQ(bytes, kSize - held) << requests[resumed];
  EXPECT_LE(bytes, kSize / 10 + 1048576) << requests[resumed];
  printf("[resume] killed with %llu of %zu bytes held; the next start fetched %llu bytes (%.4f of the file)\n", held,
         kSize, bytes, double(bytes) / double(kSize));
}

}  // namespace
