// FetchExactly, the resilient fetch the release tool checks blobs with:
// a blob cut short every time it is asked for fails alone, and the blobs
// after it are fetched once each over a connection that carries nothing
// of the cut one. And the partial store continuing a download past 4 GiB.
#include <gtest/gtest.h>

#include <time.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "app/config.h"
#include "delivery/partial_store.h"
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

// A new file of size bytes at path: zeros up to size - tail's length
// (left unwritten, so that they take no disk), then tail.
void WriteSparse(const std::wstring& path, uint64_t size, const std::string& tail) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size - tail.size());
  ASSERT_TRUE(SetFilePointerEx(file, at, nullptr, FILE_BEGIN));
  DWORD written = 0;
  if (tail.empty()) {
    ASSERT_TRUE(SetEndOfFile(file));
  } else {
    ASSERT_TRUE(WriteFile(file, tail.data(), DWORD(tail.size()), &written, nullptr));
  }
  CloseHandle(file);
}

// The size of the file at path and its last count bytes.
std::string LastBytes(const std::wstring& path, DWORD count, uint64_t* size) {
  std::string bytes(count, '\0');
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  LARGE_INTEGER length, at;
  GetFileSizeEx(file, &length);
  *size = static_cast<uint64_t>(length.QuadPart);
  at.QuadPart = length.QuadPart - count;
  DWORD got = 0;
  if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !ReadFile(file, &bytes[0], count, &got, nullptr)) got = 0;
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

// A download of 5 GiB and 100 bytes broke off after its first 5 GiB: the
// store holds exactly that much, asks for the rest from byte 5368709120
// and completes the file in its destination. Every offset and size here
// is past 32 bits, so a build that cuts one of them (a 32-bit size_t on
// the way) asks for other bytes, takes the entry as empty or writes the
// rest at the wrong place. The zeros are sparse: no gigabyte moves.
TEST(FetchThroughStore, ContinuesAnEntryPastFourGiB) {
  RunHarness harness;
  Blobs blobs;
  const uint64_t held = 5368709120ULL;
  const std::string tail = Filler(100, 95);
  const uint64_t size = held + tail.size();
  const std::wstring blob = Join(blobs.folder, L"files\\big");
  WriteSparse(blob, size, tail);

  const std::wstring digest(64, L'b');
  const std::wstring store = Join(Join(harness.install, L".quenfar8-update"), L"partial");
  MakeFolder(Join(harness.install, L".quenfar8-update"));
  MakeFolder(store);
  WriteSparse(Join(store, digest), held, "");
  WriteBytes(Join(store, digest + L".rec"), "remote=files/big\r\nsize=" + std::to_string(size) +
                                                "\r\nvalidator=\r\nsince=" + std::to_string(time(nullptr)) +
                                                "\r\n");
  EXPECT_EQ(HeldPartialBytes(L"files/big", digest.c_str(), size), held);

  const std::wstring out = Join(harness.run, L"big");
  int32_t continued = 0;
  EXPECT_EQ(FetchThroughStore(L"files/big", digest.c_str(), size, out.c_str(), &continued), 1);
  EXPECT_EQ(continued, 1);
  EXPECT_EQ(blobs.feed.Gets("/" + blobs.name + "/files/big"),
            (std::vector<std::string>{"bytes=5368709120-5368709219 - 206"}));
  uint64_t out_size = 0;
  EXPECT_EQ(LastBytes(out, DWORD(tail.size()), &out_size), tail);
  EXPECT_EQ(out_size, size);
  EXPECT_FALSE(Exists(Join(store, digest))) << "the entry stayed in the store";
  EXPECT_FALSE(Exists(Join(store, digest + L".rec"))) << "the record stayed";
  EndFetchConnection();
  DeleteFileW(out.c_str());
  DeleteFileW(blob.c_str());
}

}  // namespace
