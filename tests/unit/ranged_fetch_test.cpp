// FetchExactly, the resilient fetch the release tool checks blobs with:
// a blob cut short every time it is asked for fails alone, and the blobs
// after it are fetched once each over a connection that carries nothing
// of the cut one.
#include <gtest/gtest.h>

#include <wchar.h>

#include <string>
#include <vector>

#include "app/config.h"
#include "support/feed.h"
#include "support/files.h"
#include "support/harness.h"
#include "support/messages.h"
#include "transfer/ranged_fetch.h"

namespace {

struct Blobs {
  TestFeed feed;
  std::string name;
  std::wstring folder;

  Blobs() {
    EXPECT_TRUE(feed.Load());
    name = "ranged-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    folder = feed.Folder(name);
    MakeFolder(Join(folder, L"files"));
    config.package_dir[0] = L'\0';
    wcscpy(config.feed_url, Wide(feed.Url(name)).c_str());
  }
  std::string Put(const std::string& blob, const std::string& bytes) const {
    WriteBytes(Join(folder, L"files\\" + Wide(blob)), bytes);
    return "/" + name + "/files/" + blob;
  }
};

size_t Retries(const std::vector<std::string>& lines) {
  size_t count = 0;
  for (const std::string& line : lines) {
    if (line.compare(0, sizeof kRetryingPrefix - 1, kRetryingPrefix) == 0) ++count;
  }
  return count;
}

// Each way a blob can end early, asked for on every request, then two
// sound blobs: the broken one fails after its attempts with nothing left
// at its destination, and each sound one arrives with one request.
TEST(FetchExactly, ABlobCutShortFailsAloneAndTheNextAreSound) {
  ScopedEnv wait(L"QUENFAR8_TEST_RETRY_MS", L"50");
  struct {
    const char* what;
    const char* control;
  } const cases[] = {
      {"a clean close half-way", "cutclean 40000"},
      {"a reset half-way", "cut 40000"},
      {"a Content-Length shorter than the body", "long 1000"},
  };
  RunHarness harness;
  Blobs blobs;
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string broken = Filler(80000, 60 + i);
    const std::string sound = Filler(70, 70 + i);
    const std::string next = Filler(120000, 80 + i);
    const std::string tag = std::to_string(i++);
    const std::string broken_path = blobs.Put("broken" + tag, broken);
    const std::string sound_path = blobs.Put("sound" + tag, sound);
    const std::string next_path = blobs.Put("next" + tag, next);
    blobs.feed.Control(broken_path, c.control);

    size_t before = harness.Log().size();
    std::wstring out = Join(harness.run, L"broken" + Wide(tag));
    EXPECT_EQ(FetchExactly(Wide("files/broken" + tag).c_str(), broken.size(), out.c_str()), 0);
    EXPECT_FALSE(Exists(out));
    std::vector<std::string> log = harness.Log();
    std::vector<std::string> lines(log.begin() + before, log.end());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), kDownloadFailed);
    EXPECT_EQ(Retries(lines), size_t(ATTEMPTS_PER_FILE - 1));
    EXPECT_EQ(blobs.feed.Gets(broken_path).size(), size_t(ATTEMPTS_PER_FILE));

    before = harness.Log().size();
    std::wstring sound_out = Join(harness.run, L"sound" + Wide(tag));
    std::wstring next_out = Join(harness.run, L"next" + Wide(tag));
    EXPECT_EQ(FetchExactly(Wide("files/sound" + tag).c_str(), sound.size(), sound_out.c_str()), 1);
    EXPECT_EQ(FetchExactly(Wide("files/next" + tag).c_str(), next.size(), next_out.c_str()), 1);
    EXPECT_EQ(ReadBytes(sound_out), sound);
    EXPECT_EQ(ReadBytes(next_out), next);
    EXPECT_EQ(harness.Log().size(), before) << "a sound blob needed a retry: " << harness.Log().back();
    EXPECT_EQ(blobs.feed.Gets(sound_path), (std::vector<std::string>{"- - 200"}));
    EXPECT_EQ(blobs.feed.Gets(next_path), (std::vector<std::string>{"- - 200"}));
  }
  EndFetchConnection();
}

// The destination must not exist: one that does is left as it is.
TEST(FetchExactly, AnExistingDestinationIsLeftAlone) {
  RunHarness harness;
  Blobs blobs;
  const std::string bytes = Filler(5000, 90);
  const std::string path = blobs.Put("blob", bytes);
  std::wstring out = Join(harness.run, L"existing");
  WriteBytes(out, "someone else's");
  EXPECT_EQ(FetchExactly(L"files/blob", bytes.size(), out.c_str()), 0);
  EXPECT_EQ(ReadBytes(out), "someone else's");
  EXPECT_TRUE(blobs.feed.Gets(path).empty());
}

}  // namespace
