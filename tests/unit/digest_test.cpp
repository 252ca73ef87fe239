// Digests, file checks, the digest syntax and the path join.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/sha256.h"
#include "transfer/digest.h"

namespace {

const wchar_t kEmptyDigest[] = L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const wchar_t kAbcDigest[] = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

struct HashCase {
  const char* what;
  std::string content;
};

TEST(HashFile, DigestAndCountMatchAnIndependentSha256) {
  const HashCase cases[] = {
      {"empty", ""},
      {"abc", "abc"},
      {"one byte short of a chunk", Filler(65535, 1)},
      {"exactly one chunk", Filler(65536, 2)},
      {"one byte past a chunk", Filler(65537, 3)},
      {"several chunks and a tail", Filler(3 * 65536 + 1234, 4)},
  };
  std::wstring folder = FreshTestFolder();
  for (const HashCase& c : cases) {
    std::wstring path = Join(folder, Wide(c.what));
    WriteBytes(path, c.content);
    wchar_t digest[65] = L"untouched";
    uint64_t count = 12345;
    ASSERT_EQ(HashFile(path.c_str(), digest, &count), 1) << c.what;
    EXPECT_EQ(std::wstring(digest), Sha256Hex(c.content)) << c.what;
    EXPECT_EQ(count, c.content.size()) << c.what;
    // The count is optional.
    wchar_t again[65] = L"";
    ASSERT_EQ(HashFile(path.c_str(), again, nullptr), 1) << c.what;
    EXPECT_EQ(std::wstring(again), std::wstring(digest)) << c.what;
  }
}

TEST(HashFile, KnownVectors) {
  std::wstring folder = FreshTestFolder();
  WriteBytes(Join(folder, L"empty"), "");
  WriteBytes(Join(folder, L"abc"), "abc");
  wchar_t digest[65];
  ASSERT_EQ(HashFile(Join(folder, L"empty").c_str(), digest, nullptr), 1);
  EXPECT_STREQ(digest, kEmptyDigest);
  ASSERT_EQ(HashFile(Join(folder, L"abc").c_str(), digest, nullptr), 1);
  EXPECT_STREQ(digest, kAbcDigest);
  EXPECT_EQ(VerifyFile(Join(folder, L"empty").c_str(), kEmptyDigest, 0), 1);
  EXPECT_EQ(VerifyFile(Join(folder, L"abc").c_str(), kAbcDigest, 3), 1);
}

// A sparse file of 4 GiB of zeros followed by "tail!": the byte count
// carries into the upper 32 bits, and VerifyFile compares all 64 bits.
TEST(HashFile, CountsPastFourGiB) {
  std::wstring path = Join(FreshTestFolder(), L"sparse.bin");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER at;
  at.QuadPart = 4294967296LL;
  ASSERT_TRUE(SetFilePointerEx(file, at, nullptr, FILE_BEGIN));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "tail!", 5, &written, nullptr));
  CloseHandle(file);

  const wchar_t expected[] = L"fbab6d9a79df0a84cea59a2686e1b12b1cfe341b1b71571578cf4d161c0a3f7b";
  wchar_t digest[65];
  uint64_t count = 0;
  ASSERT_EQ(HashFile(path.c_str(), digest, &count), 1);
  EXPECT_EQ(count, 4294967301ULL);
  EXPECT_STREQ(digest, expected);
  EXPECT_EQ(VerifyFile(path.c_str(), expected, 4294967301ULL), 1);
  EXPECT_EQ(VerifyFile(path.c_str(), expected, 5), 0) << "only the low 32 bits were compared";
  DeleteFileW(path.c_str());
}

TEST(VerifyFile, RefusesWrongSizeDigestCaseAndOtherDigests) {
  std::wstring path = Join(FreshTestFolder(), L"abc");
  WriteBytes(path, "abc");
  std::wstring upper = kAbcDigest;
  for (wchar_t& c : upper) c = wchar_t(towupper(c));
  struct {
    const char* what;
    std::wstring digest;
    uint64_t size;
    int expected;
  } const cases[] = {
      {"right digest and size", kAbcDigest, 3, 1},
      {"one byte more", kAbcDigest, 4, 0},
      {"one byte less", kAbcDigest, 2, 0},
      {"size zero", kAbcDigest, 0, 0},
      {"digest in upper case", upper, 3, 0},
      {"another file's digest", kEmptyDigest, 3, 0},
      {"empty digest", L"", 3, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(VerifyFile(path.c_str(), c.digest.c_str(), c.size), c.expected) << c.what;
}

// Things at a path that are not plain files, and plain files with unusual
// attributes.
TEST(IsRegularFile, FoldersLinksAndAttributes) {
  std::wstring folder = FreshTestFolder();
  std::wstring plain = Join(folder, L"plain.txt");
  WriteBytes(plain, "abc");
  std::wstring read_only = Join(folder, L"read-only.txt");
  WriteBytes(read_only, "abc");
  SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY);
  std::wstring hidden = Join(folder, L"hidden.txt");
  WriteBytes(hidden, "abc");
  SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
  std::wstring sub = Join(folder, L"sub");
  MakeFolder(sub);
  std::wstring link = Join(folder, L"link-to-sub");
  ASSERT_TRUE(MakeUnixLink(sub, link));
  ASSERT_EQ(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, DWORD(FILE_ATTRIBUTE_REPARSE_POINT));

  struct {
    const char* what;
    std::wstring path;
    int regular;
    int verifies;
  } const cases[] = {
      {"plain file", plain, 1, 1},
      {"read-only file", read_only, 1, 1},
      {"hidden file", hidden, 1, 1},
      {"folder", sub, 0, 0},
      {"link to a folder", link, 0, 0},
      {"absent", Join(folder, L"absent.txt"), 0, 0},
      {"below an absent folder", Join(folder, L"nowhere\\x.txt"), 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsRegularFile(c.path.c_str()), c.regular) << c.what;
    EXPECT_EQ(VerifyFile(c.path.c_str(), kAbcDigest, 3), c.verifies) << c.what;
  }
  SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A failed hash leaves the caller's buffers as they were.
TEST(HashFile, FailsWithoutTouchingOutputs) {
  std::wstring folder = FreshTestFolder();
  std::wstring written = Join(folder, L"held-for-writing.bin");
  WriteBytes(written, "abc");
  std::wstring sub = Join(folder, L"sub");
  MakeFolder(sub);
  HeldFile writer(written, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(writer.ok());

  const std::wstring cases[] = {written, sub, Join(folder, L"absent")};
  for (const std::wstring& path : cases) {
    wchar_t digest[65] = L"untouched";
    uint64_t count = 77;
    EXPECT_EQ(HashFile(path.c_str(), digest, &count), 0) << Utf8(path);
    EXPECT_STREQ(digest, L"untouched") << Utf8(path);
    EXPECT_EQ(count, 77u) << Utf8(path);
  }
  EXPECT_EQ(VerifyFile(written.c_str(), kAbcDigest, 3), 0);
}

// A reader that shares reading does not stop a hash.
TEST(HashFile, AnotherReaderIsAllowed) {
  std::wstring path = Join(FreshTestFolder(), L"shared.bin");
  WriteBytes(path, "abc");
  HeldFile reader(path, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(reader.ok());
  wchar_t digest[65];
  EXPECT_EQ(HashFile(path.c_str(), digest, nullptr), 1);
  EXPECT_STREQ(digest, kAbcDigest);
}

TEST(IsSha256Hex, Table) {
  std::wstring zeros(64, L'0');
  struct {
    std::wstring text;
    int expected;
  } const cases[] = {
      {zeros, 1},
      {kAbcDigest, 1},
      {std::wstring(63, L'0'), 0},
      {std::wstring(65, L'0'), 0},
      {L"", 0},
      {std::wstring(63, L'0') + L"A", 0},
      {std::wstring(63, L'0') + L"F", 0},
      {std::wstring(63, L'0') + L"g", 0},
      {std::wstring(63, L'0') + L" ", 0},
      {L" " + std::wstring(63, L'0'), 0},
      {std::wstring(63, L'0') + L"\x0660", 0},  // an Arabic-Indic digit
  };
  for (const auto& c : cases) EXPECT_EQ(IsSha256Hex(c.text.c_str()), c.expected) << Utf8(c.text);
}

TEST(JoinPath, Table) {
  std::wstring long_folder(1020, L'f');
  struct {
    std::wstring folder, name, expected;
  } const cases[] = {
      {L"C:\\game", L"data.bin", L"C:\\game\\data.bin"},
      {L"C:", L"data.bin", L"C:\\data.bin"},
      {L"C:\\game\\", L"data.bin", L"C:\\game\\\\data.bin"},  // nothing is normalised
      {L"", L"x", L"\\x"},
      {L"C:\\game", L"", L"C:\\game\\"},
      {long_folder, L"ab", long_folder + L"\\ab"},              // exactly 1023 characters
      {long_folder, L"abc", long_folder + L"\\ab"},             // cut to 1023
      {long_folder + L"gggg", L"name", (long_folder + L"ggg")}, // cut inside the folder
  };
  for (const auto& c : cases) {
    wchar_t out[1024];
    wmemset(out, L'#', 1024);
    JoinPath(out, c.folder.c_str(), c.name.c_str());
    EXPECT_EQ(std::wstring(out), c.expected);
    EXPECT_LE(wcslen(out), 1023u);
  }
}

}  // namespace
