// File checks, the patch choice, the staging total and the free-space test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/messages.h"
#include "unit/engine_steps.h"

namespace {

const uint64_t kSpare = 16777216;  // 16 MiB

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return text;
}

std::string Checking(const std::string& name) { return kChecking + name; }

// What a planned row must hold, as UTF-8 texts.
struct ExpectedRow {
  std::string name;
  int existed;
  int needs_update;
  std::string local_sha256;
  std::string source;
  std::string source_sha256;
  uint64_t source_size;
  int via_patch;
};

void ExpectRow(const RunHarness& h, int n, const ExpectedRow& e) {
  const FileEntry& row = file_table[n];
  SCOPED_TRACE("row " + std::to_string(n) + " " + e.name);
  EXPECT_EQ(Utf8(row.name), e.name);
  EXPECT_EQ(row.existed, e.existed);
  EXPECT_EQ(row.needs_update, e.needs_update);
  EXPECT_EQ(Utf8(row.local_sha256), e.local_sha256);
  EXPECT_EQ(Utf8(row.source), e.source);
  EXPECT_EQ(Utf8(row.source_sha256), e.source_sha256);
  EXPECT_EQ(row.source_size, e.source_size);
  EXPECT_EQ(row.via_patch, e.via_patch);
  EXPECT_EQ(row.applied, 0);
  EXPECT_EQ(std::wstring(row.target_path), h.install + L"\\" + Wide(e.name));
  EXPECT_EQ(std::wstring(row.new_path), h.run + L"\\new\\" + Wide(e.name));
  EXPECT_EQ(std::wstring(row.backup_path), h.run + L"\\backup\\" + Wide(e.name));
}

// One row of each plan that does not involve a patch. "sized.dat" is
// installed with exactly the digest the manifest lists, but the manifest
// states another byte count: the digest alone does not make it current.
TEST(EnginePlan, CurrentChangedSizeMismatchAndMissingFiles) {
  RunHarness h;
  Release release(h.package);
  release.AddFile("current.dat", "same bytes");
  release.AddFile("stale.dat", "the released bytes");
  release.AddFile("sized.dat", "12345");
  release.Set("file.2", "size", "6");
  release.AddFile("missing.dat", "brand new file");
  WriteBytes(Join(h.install, L"current.dat"), "same bytes");
  WriteBytes(Join(h.install, L"stale.dat"), "the installed bytes");
  WriteBytes(Join(h.install, L"sized.dat"), "12345");
  PublishManifest(release, h);

  uint64_t total = 0;
  ASSERT_EQ(PlanRows(&total), 1);

  ExpectRow(h, 0, {"current.dat", 1, 0, DigestOf("same bytes"), "", "", 0, 0});
  ExpectRow(h, 1,
            {"stale.dat", 1, 1, DigestOf("the installed bytes"), "files/stale.dat", DigestOf("the released bytes"),
             18, 0});
  ExpectRow(h, 2, {"sized.dat", 1, 1, DigestOf("12345"), "files/sized.dat", DigestOf("12345"), 6, 0});
  ExpectRow(h, 3, {"missing.dat", 0, 1, "", "files/missing.dat", DigestOf("brand new file"), 14, 0});
  EXPECT_EQ(total, 18u + 6u + 14u);
  // One line per row, the missing file included; nothing else.
  EXPECT_EQ(h.Log(), (std::vector<std::string>{Checking("current.dat"), Checking("stale.dat"),
                                               Checking("sized.dat"), Checking("missing.dat")}));
}

struct PatchOffer {
  size_t size;
  bool for_installed;  // its base digest is the installed file's
};

struct ChoiceCase {
  const char* what;
  bool installed;
  std::vector<PatchOffer> offers;
  int chosen;  // M of the chosen patch, -1 for the whole file
};

TEST(EnginePlan, ChoosesTheSmallestPatchForTheInstalledCopy) {
  const ChoiceCase cases[] = {
      {"500 then 300", true, {{500, true}, {300, true}}, 1},
      {"300 then 500", true, {{300, true}, {500, true}}, 0},
      {"two of 300: the lower M", true, {{300, true}, {300, true}}, 0},
      {"three of 300 after a 400: the first 300", true, {{400, true}, {300, true}, {300, true}, {300, true}}, 1},
      {"as large as the file", true, {{1000, true}}, -1},
      {"larger than the file", true, {{1001, true}}, -1},
      {"one byte smaller than the file", true, {{999, true}}, 0},
      {"a smaller patch for another base is ignored", true, {{300, false}, {500, true}}, 1},
      {"only patches for another base", true, {{300, false}, {200, false}}, -1},
      {"file missing: never a patch", false, {{300, true}}, -1},
  };
  const std::string installed = Filler(1000, 1);
  const std::string released = Filler(1000, 2);
  int index = 0;
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(c.what);
    RunHarness h;
    Release release(h.package);
    release.AddFile("f.dat", released);
    std::vector<std::string> patches;
    for (size_t m = 0; m < c.offers.size(); ++m) {
      // The plan never looks inside a patch: filler bytes of the stated size serve.
      patches.push_back(Filler(c.offers[m].size, unsigned(10 + m)));
      release.AddPatch(0, c.offers[m].for_installed ? installed : Filler(1000, 99), "", &patches.back());
    }
    if (c.installed) WriteBytes(Join(h.install, L"f.dat"), installed);
    PublishManifest(release, h, L"manifest-" + std::to_wstring(index++) + L".ini");

    uint64_t total = 0;
    ASSERT_EQ(PlanRows(&total), 1);
    std::string local = c.installed ? DigestOf(installed) : "";
    if (c.chosen < 0) {
      ExpectRow(h, 0, {"f.dat", c.installed, 1, local, "files/f.dat", DigestOf(released), 1000, 0});
      EXPECT_EQ(total, 1000u);
    } else {
      std::string path = "patches/0-" + std::to_string(c.chosen) + ".qpatch";
      ExpectRow(h, 0, {"f.dat", 1, 1, local, path, DigestOf(patches[c.chosen]), c.offers[c.chosen].size, 1});
      EXPECT_EQ(total, 1000u + c.offers[c.chosen].size);
    }
    EXPECT_EQ(h.Log(), std::vector<std::string>{Checking("f.dat")});
  }
}

struct Breakage {
  const char* what;
  const char* key;
  std::string value;  // empty: the key is removed
};

enum class Installed { kCurrent, kStale, kMissing };

// [patch.0.0] is a good patch for the stale copy; [patch.0.1] is broken.
// The broken section is read only when the row needs an update, and then
// also after [patch.0.0] was chosen and also when the file is missing.
TEST(EnginePlan, BrokenPatchSectionRefusedOnlyWhenTheRowNeedsAnUpdate) {
  const std::string old_bytes = Filler(1000, 1);
  std::string new_bytes = old_bytes;
  new_bytes.replace(400, 20, "twenty changed bytes");
  const Breakage breakages[] = {
      {"size 0", "size", "0"},
      {"size missing", "size", ""},
      {"size above 2^40", "size", "1099511627777"},
      {"size not a number", "size", "12abc"},
      {"base digest in upper case", "base_sha256", Upper(DigestOf(old_bytes))},
      {"base digest missing", "base_sha256", ""},
      {"patch digest of 63 digits", "sha256", DigestOf("x").substr(1)},
      {"path with ..", "path", "patches/../p.qpatch"},
      {"path in upper case", "path", "patches/P.qpatch"},
      {"path with a backslash", "path", "patches\\p.qpatch"},
      {"path missing", "path", ""},
  };
  const struct {
    Installed state;
    const char* what;
  } states[] = {{Installed::kCurrent, "current"}, {Installed::kStale, "stale"}, {Installed::kMissing, "missing"}};
  int index = 0;
  for (const Breakage& b : breakages) {
    for (const auto& s : states) {
      SCOPED_TRACE(std::string(b.what) + ", file " + s.what);
      RunHarness h;
      Release release(h.package);
      release.AddFile("f.dat", new_bytes);
      release.AddPatch(0, old_bytes);
      release.AddPatch(0, old_bytes);
      if (b.value.empty()) {
        release.Erase("patch.0.1", b.key);
      } else {
        release.Set("patch.0.1", b.key, b.value);
      }
      if (s.state == Installed::kCurrent) WriteBytes(Join(h.install, L"f.dat"), new_bytes);
      if (s.state == Installed::kStale) WriteBytes(Join(h.install, L"f.dat"), old_bytes);
      PublishManifest(release, h, L"manifest-" + std::to_wstring(index++) + L".ini");

      uint64_t total = 0;
      if (s.state == Installed::kCurrent) {
        EXPECT_EQ(PlanRows(&total), 1);
        EXPECT_EQ(file_table[0].needs_update, 0);
        EXPECT_EQ(h.Log(), std::vector<std::string>{Checking("f.dat")});
      } else {
        EXPECT_EQ(PlanRows(&total), 0);
        EXPECT_EQ(h.Log(), (std::vector<std::string>{Checking("f.dat"), kBadPatch}));
      }
    }
  }
}

// Something other than a plain file at a listed name: refused before the
// row's status line, after the rows before it were checked.
TEST(EnginePlan, FolderOrLinkToFolderAtTargetIsRefused) {
  const char* const cases[] = {"folder", "symbolic link to a folder"};
  int index = 0;
  for (const char* what : cases) {
    SCOPED_TRACE(what);
    RunHarness h;
    Release release(h.package);
    release.AddFile("a.dat", "aaa");
    release.AddFile("b.dat", "bbb");
    release.AddFile("c.dat", "ccc");
    WriteBytes(Join(h.install, L"a.dat"), "aaa");
    if (index == 0) {
      MakeFolder(Join(h.install, L"b.dat"));
    } else {
      MakeFolder(Join(h.root, L"elsewhere"));
      ASSERT_TRUE(MakeUnixLink(Join(h.root, L"elsewhere"), Join(h.install, L"b.dat")));
    }
    PublishManifest(release, h, L"manifest-" + std::to_wstring(index++) + L".ini");

    uint64_t total = 0;
    EXPECT_EQ(PlanRows(&total), 0);
    EXPECT_EQ(h.Log(), (std::vector<std::string>{Checking("a.dat"), kNotRegular}));
    EXPECT_EQ(file_table[1].existed, 1);
    EXPECT_EQ(file_table[2].name[0], L'\0') << "the row after the refused one was read";
  }
}

// A game that has its file open for writing keeps the hashing open out.
TEST(EnginePlan, FileHeldOpenForWritingCannotBeRead) {
  const struct {
    const char* what;
    DWORD access;
    DWORD share;
  } holders[] = {
      {"writer that lets readers in", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {"reader and writer without sharing", GENERIC_READ | GENERIC_WRITE, 0},
  };
  int index = 0;
  for (const auto& holder : holders) {
    SCOPED_TRACE(holder.what);
    RunHarness h;
    Release release(h.package);
    release.AddFile("game.dat", "released");
    WriteBytes(Join(h.install, L"game.dat"), "installed");
    PublishManifest(release, h, L"manifest-" + std::to_wstring(index++) + L".ini");
    HeldFile held(Join(h.install, L"game.dat"), holder.access, holder.share);
    ASSERT_TRUE(held.ok());

    uint64_t total = 0;
    EXPECT_EQ(PlanRows(&total), 0);
    EXPECT_EQ(h.Log(), (std::vector<std::string>{Checking("game.dat"), kUnreadable}));
  }
}

// A whole file of 10 bytes and a 100-byte file rebuilt from a 7-byte patch:
// staging writes 10 + 100 + 7 bytes. A current file adds nothing.
TEST(EnginePlan, StagingTotalCountsNewFilesAndPatchFiles) {
  RunHarness h;
  Release release(h.package);
  release.AddFile("whole.dat", Filler(10, 1));
  release.AddFile("patched.dat", Filler(100, 2));
  const std::string patch = Filler(7, 3);
  release.AddPatch(1, Filler(100, 4), "", &patch);
  release.AddFile("current.dat", Filler(5000, 5));
  WriteBytes(Join(h.install, L"whole.dat"), Filler(10, 6));
  WriteBytes(Join(h.install, L"patched.dat"), Filler(100, 4));
  WriteBytes(Join(h.install, L"current.dat"), Filler(5000, 5));
  PublishManifest(release, h);

  uint64_t total = 0;
  ASSERT_EQ(PlanRows(&total), 1);
  EXPECT_EQ(file_table[1].via_patch, 1);
  EXPECT_EQ(file_table[1].source_size, 7u);
  EXPECT_EQ(file_table[2].needs_update, 0);
  EXPECT_EQ(total, 117u);
}

// The free-space figure comes from the test build's seam; "x" makes the
// query itself fail.
TEST(EngineDiskSpace, NeedsTheStagingTotalPlusSixteenMiB) {
  const uint64_t big = 1ULL << 47;  // past 32 bits on both sides of the sum
  const struct {
    uint64_t total;
    std::wstring free_bytes;
    int ok;
  } cases[] = {
      {117, std::to_wstring(117 + kSpare - 1), 0},
      {117, std::to_wstring(117 + kSpare), 1},
      {117, std::to_wstring(117 + kSpare + 1), 1},
      {0, std::to_wstring(kSpare - 1), 0},
      {0, std::to_wstring(kSpare), 1},
      {big, std::to_wstring(big + kSpare - 1), 0},
      {big, std::to_wstring(big + kSpare), 1},
      {big, std::to_wstring(kSpare), 0},
      {0, L"x", 0},
  };
  RunHarness h;
  size_t lines = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("total " + std::to_string(c.total) + ", free " + Utf8(c.free_bytes));
    ScopedEnv free_bytes(L"QUENFAR8_TEST_FREE_BYTES", c.free_bytes);
    EXPECT_EQ(CheckDiskSpace(c.total), c.ok);
    std::vector<std::string> said = LinesFrom(h, lines);
    lines += said.size();
    EXPECT_EQ(said, c.ok ? std::vector<std::string>{} : std::vector<std::string>{kNoSpace});
  }
}

// Without the seam the volume's real free space is asked for: any test
// machine has 16 MiB to spare and none has a pebibyte.
TEST(EngineDiskSpace, WithoutTheSeamTheVolumeIsAsked) {
  RunHarness h;
  EXPECT_EQ(CheckDiskSpace(0), 1);
  EXPECT_EQ(h.Log(), std::vector<std::string>{});
  EXPECT_EQ(CheckDiskSpace(1ULL << 50), 0);
  EXPECT_EQ(h.Log(), std::vector<std::string>{kNoSpace});
}

// A client that is already current still needs the spare room.
TEST(EngineDiskSpace, AppliesWhenNothingNeedsAnUpdate) {
  RunHarness h;
  Release release(h.package);
  release.AddFile("Quenfar8.exe", "game");
  release.AddFile("data.pak", Filler(3000, 1));
  WriteBytes(Join(h.install, L"Quenfar8.exe"), "game");
  WriteBytes(Join(h.install, L"data.pak"), Filler(3000, 1));
  PublishManifest(release, h);
  uint64_t total = 0;
  ASSERT_EQ(PlanRows(&total), 1);
  ASSERT_EQ(total, 0u);
  size_t planned = h.Log().size();
  {
    ScopedEnv free_bytes(L"QUENFAR8_TEST_FREE_BYTES", std::to_wstring(kSpare - 1));
    EXPECT_EQ(CheckDiskSpace(total), 0);
  }
  EXPECT_EQ(LinesFrom(h, planned), std::vector<std::string>{kNoSpace});
  {
    ScopedEnv free_bytes(L"QUENFAR8_TEST_FREE_BYTES", std::to_wstring(kSpare));
    EXPECT_EQ(CheckDiskSpace(total), 1);
  }
  EXPECT_EQ(LinesFrom(h, planned), std::vector<std::string>{kNoSpace});
}

}  // namespace
