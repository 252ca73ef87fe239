// The manifest: the number rule, the header, one file section (the name
// rule and the value rules), and the update run up to the row loop's end.
#include <gtest/gtest.h>

#include <string.h>
#include <wchar.h>

#include <string>
#include <utility>
#include <vector>

#include "app/config.h"
#include "engine/file_table.h"
#include "engine/manifest.h"
#include "engine/update_run.h"
#include "support/feed.h"
#include "support/files.h"
#include "support/harness.h"
#include "support/messages.h"
#include "support/release.h"

namespace {

const uint64_t kTwoTo40 = 1099511627776ULL;
const char kNone[] = "<none>";  // a key left out of the manifest

std::string Checking(const std::string& name) { return "파일 확인 중: " + name; }

// The status lines added to the log since `before` lines were there.
std::vector<std::string> LinesSince(const RunHarness& harness, size_t before) {
  std::vector<std::string> log = harness.Log();
  return std::vector<std::string>(log.begin() + before, log.end());
}

// Points config at a manifest of its own for one case. Each case gets a
// file of another name, so that no cached copy of an earlier one is read.
void UseManifest(const RunHarness& harness, const std::string& text) {
  static int serial = 0;
  std::wstring path = Join(harness.run, L"manifest-" + std::to_wstring(serial++) + L".ini");
  WriteBytes(path, text);
  wcscpy(config.manifest_path, path.c_str());
}

// "[section]" and its keys; keys whose value is kNone are left out.
std::string Section(const std::string& name, const std::vector<std::pair<std::string, std::string>>& keys) {
  std::string text = "[" + name + "]\r\n";
  for (const auto& key : keys) {
    if (key.second != kNone) text += key.first + "=" + key.second + "\r\n";
  }
  return text;
}

// ---------------------------------------------------------------------------
// The number rule

TEST(ManifestNumber, Rule) {
  struct {
    const wchar_t* text;
    int accepted;
    uint64_t value;
  } const cases[] = {
      {L"0", 1, 0},
      {L"+7", 1, 7},
      {L"007", 1, 7},
      {L"1099511627776", 1, kTwoTo40},
      {L"1099511627777", 0, 0},
      {L"4294967296", 1, 4294967296ULL},  // past 32 bits
      {L"0000000000000000000000000000007", 1, 7},
      {L"", 0, 0},
      {L"-0", 0, 0},
      {L"-7", 0, 0},
      {L"12abc", 0, 0},
      {L"1.0", 0, 0},
      {L"0x10", 0, 0},
      {L"+", 0, 0},
      {L"++5", 0, 0},
      {L"+-5", 0, 0},
      {L"--5", 0, 0},
      {L"1 000", 0, 0},
      {L"5 ", 0, 0},
      {L"5\t", 0, 0},
      {L"\uFF15", 0, 0},  // a full-width digit
      // Past 2^64: refused, never wrapped or capped into the range.
      {L"18446744073709551615", 0, 0},
      {L"18446744073709551616", 0, 0},
      {L"99999999999999999999", 0, 0},
      // Leading white space, then one sign.
      {L" 5", 1, 5},
      {L"\t5", 1, 5},
      {L"  +5", 1, 5},
      {L" ", 0, 0},
      {L" +", 0, 0},
      {L" - 5", 0, 0},
      {L" -0", 1, 0},
      {L" -5", 0, 0},
      {L" -99999999999999999999", 0, 0},
      {L" -18446744073709551616", 0, 0},
      // Negated modulo 2^64 these would land within the range (1 and 2^40).
      {L" -18446744073709551615", 0, 0},
      {L" -18446742974197923840", 0, 0},
  };
  for (const auto& c : cases) {
    uint64_t value = 12345;
    EXPECT_EQ(ParseManifestNumber(c.text, &value), c.accepted) << Utf8(c.text);
    if (c.accepted) EXPECT_EQ(value, c.value) << Utf8(c.text);
  }
}

// The same rule on values as the INI reader hands them over: blanks around
// an unquoted value are dropped by the reader, blanks inside quotes reach
// the rule, and the text is cut to 31 characters before it is judged.
TEST(ManifestNumber, ThroughTheIni) {
  RunHarness harness;
  const std::string zeros31(31, '0');
  UseManifest(harness, Section("t", {
                                        {"plain", "42"},
                                        {"padded", "   42   "},
                                        {"quoted-blank", "\" 5\""},
                                        {"quoted-tab", "\"\t5\""},
                                        {"quoted-negative-zero", "\" -0\""},
                                        {"quoted-negative", "\" -5\""},
                                        {"quoted-negative-overflow", "\" -99999999999999999999\""},
                                        {"quoted-negative-wrap", "\" -18446744073709551615\""},
                                        {"negative-zero", "-0"},
                                        {"empty", ""},
                                        {"cut-to-zeros", zeros31 + "7"},
                                        {"cut-to-one", std::string(30, '0') + "12"},
                                    }));
  struct {
    const wchar_t* section;
    const wchar_t* key;
    int accepted;
    uint64_t value;
  } const cases[] = {
      {L"t", L"plain", 1, 42},
      {L"t", L"padded", 1, 42},
      {L"t", L"quoted-blank", 1, 5},
      {L"t", L"quoted-tab", 1, 5},
      {L"t", L"quoted-negative-zero", 1, 0},
      {L"t", L"quoted-negative", 0, 0},
      {L"t", L"quoted-negative-overflow", 0, 0},
      {L"t", L"quoted-negative-wrap", 0, 0},
      {L"t", L"negative-zero", 0, 0},
      {L"t", L"empty", 0, 0},
      {L"t", L"cut-to-zeros", 1, 0},
      {L"t", L"cut-to-one", 1, 1},
      {L"t", L"missing", 0, 0},
      {L"no-such-section", L"plain", 0, 0},
  };
  for (const auto& c : cases) {
    std::string what = Utf8(c.section) + "/" + Utf8(c.key);
    wchar_t text[64];
    ReadManifestText(c.section, c.key, text, 64);
    uint64_t value = 12345;
    EXPECT_EQ(ReadManifestNumber(c.section, c.key, &value), c.accepted) << what << " read as \"" << Utf8(text) << "\"";
    if (c.accepted) EXPECT_EQ(value, c.value) << what;
  }
  EXPECT_TRUE(harness.Log().empty()) << "the number rule is silent";
}

TEST(ManifestText, CutsAtCapacityAndReadsMissingAsEmpty) {
  RunHarness harness;
  UseManifest(harness, Section("s", {{"long", std::string(200, 'x')}, {"short", "abc"}}));
  wchar_t out[128];
  ReadManifestText(L"s", L"long", out, 128);
  EXPECT_EQ(std::wstring(out), std::wstring(127, L'x'));
  ReadManifestText(L"s", L"long", out, 65);
  EXPECT_EQ(std::wstring(out), std::wstring(64, L'x'));
  ReadManifestText(L"s", L"short", out, 128);
  EXPECT_EQ(std::wstring(out), L"abc");
  wcscpy(out, L"stale");
  ReadManifestText(L"s", L"missing", out, 128);
  EXPECT_EQ(std::wstring(out), L"");
  wcscpy(out, L"stale");
  ReadManifestText(L"missing", L"short", out, 128);
  EXPECT_EQ(std::wstring(out), L"");
}

// ---------------------------------------------------------------------------
// The header

TEST(ManifestHeader, Table) {
  RunHarness harness;
  struct {
    const char* format;
    const char* count;
    const char* launch;
    const char* message;  // empty when accepted
  } const cases[] = {
      {"1", "1", "Quenfar8.exe", ""},
      {"01", "3", "Quenfar8.exe", ""},
      {"+1", "128", "Quenfar8.exe", ""},
      {"1", "+128", "Quenfar8.exe", ""},
      {"1.0", "1", "Quenfar8.exe", kUnsupported},
      {"2", "1", "Quenfar8.exe", kUnsupported},
      {"0", "1", "Quenfar8.exe", kUnsupported},
      {"-1", "1", "Quenfar8.exe", kUnsupported},
      {"", "1", "Quenfar8.exe", kUnsupported},
      {kNone, "1", "Quenfar8.exe", kUnsupported},
      {"1", "0", "Quenfar8.exe", kUnsupported},
      {"1", "129", "Quenfar8.exe", kUnsupported},
      {"1", "-0", "Quenfar8.exe", kUnsupported},
      {"1", "4294967297", "Quenfar8.exe", kUnsupported},  // 2^32 + 1
      {"1", "1099511627777", "Quenfar8.exe", kUnsupported},
      {"1", kNone, "Quenfar8.exe", kUnsupported},
      {"1", "1", "quenfar8.exe", kBadLaunch},
      {"1", "1", "QUENFAR8.EXE", kBadLaunch},
      {"1", "1", "Quenfar8.EXE", kBadLaunch},
      {"1", "1", "Quenfar8", kBadLaunch},
      {"1", "1", "Quenfar8.exe.exe", kBadLaunch},
      {"1", "1", "Quenfar8Updater.exe", kBadLaunch},
      {"1", "1", "", kBadLaunch},
      {"1", "1", kNone, kBadLaunch},
      // The number tests come first.
      {"2", "1", "quenfar8.exe", kUnsupported},
      {"1", "129", "quenfar8.exe", kUnsupported},
  };
  for (const auto& c : cases) {
    std::string what = std::string("format=") + c.format + " count=" + c.count + " launch=" + c.launch;
    UseManifest(harness, Section("release", {{"format", c.format}, {"count", c.count}, {"launch", c.launch}}) +
                             Section("file.0", {{"name", "Quenfar8.exe"}}));
    entry_count = 0;
    size_t before = harness.Log().size();
    int accepted = ReadManifestHeader();
    std::vector<std::string> lines = LinesSince(harness, before);
    if (c.message[0] == '\0') {
      EXPECT_EQ(accepted, 1) << what;
      EXPECT_TRUE(lines.empty()) << what;
      EXPECT_EQ(std::wstring(config.launch_name), L"Quenfar8.exe") << what;
      EXPECT_EQ(entry_count, atoi(c.count)) << what;
    } else {
      EXPECT_EQ(accepted, 0) << what;
      EXPECT_EQ(lines, std::vector<std::string>{c.message}) << what;
    }
  }
}

// ---------------------------------------------------------------------------
// One file section

const std::string kDigest = DigestOf("content");

// The keys of one [file.0] section; kNone leaves a key out.
struct EntryKeys {
  std::string name = "data.bin";
  std::string sha256 = kDigest;
  std::string size = "7";
  std::string patches = "0";
  std::string full = "files/data.bin";
};

struct EntryResult {
  int result;
  std::vector<std::string> lines;
  std::wstring full;
  uint32_t patch_count;
};

// Reads [file.0] of a manifest made from keys into an empty row 0.
EntryResult ReadEntry(const RunHarness& harness, const EntryKeys& keys) {
  UseManifest(harness, Section("release", {{"format", "1"}, {"count", "1"}, {"launch", "Quenfar8.exe"}}) +
                           Section("file.0", {{"name", keys.name},
                                              {"sha256", keys.sha256},
                                              {"size", keys.size},
                                              {"patches", keys.patches},
                                              {"full", keys.full}}));
  memset(file_table, 0, sizeof file_table);
  size_t before = harness.Log().size();
  EntryResult out;
  wchar_t full[REMOTE_CAPACITY];
  wcscpy(full, L"untouched");
  out.patch_count = 999;
  out.result = ReadFileEntry(0, full, &out.patch_count);
  out.full = full;
  out.lines = LinesSince(harness, before);
  return out;
}

void ExpectEntry(const EntryResult& r, bool accepted, const std::string& what) {
  if (accepted) {
    EXPECT_EQ(r.result, 1) << what;
    EXPECT_TRUE(r.lines.empty()) << what << ": " << (r.lines.empty() ? "" : r.lines[0]);
  } else {
    EXPECT_EQ(r.result, 0) << what;
    EXPECT_EQ(r.lines, std::vector<std::string>{kBadEntry}) << what;
  }
}

std::string WithCase(const std::string& text, int variant) {
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    char c = out[i];
    bool upper = variant == 1 || (variant == 2 && i == 0) || (variant == 3 && i % 2 == 1);
    if (upper && c >= 'a' && c <= 'z') out[i] = char(c - 'a' + 'A');
  }
  return out;
}

TEST(ManifestEntry, NameRule) {
  RunHarness harness;
  struct NameCase {
    std::string name;
    bool accepted;
  };
  std::vector<NameCase> cases = {
      {".hidden", false},
      {"a..b", false},
      {"readme.", false},
      {"sub/file.dat", false},
      {"con", false},
      {"Aux.dll", false},
      {"com1.txt", false},
      {"LPT9", false},
      {"HPATCHZ.EXE", false},
      {"quenfar8updater.exe", false},
      {"CONSOLE.txt", true},
      {"COM10.dat", true},
      {"com.dat", true},
      {"a.b.c", true},
      {"-x_1", true},
      {std::string(120, 'n'), true},
      {std::string(121, 'n'), false},
      {std::string(116, 'n') + ".dat", true},
      {std::string(200, 'n'), false},  // cut to 127 by the reader, still too long
      {"", false},
      {kNone, false},
      {".", false},
      {"..", false},
      {"a.", false},
      {"a..", false},
      {"sub\\file.dat", false},
      {"c:file.dat", false},
      {"a b", false},
      {"a*b", false},
      {"a?b", false},
      {"a|b", false},
      {"a<b", false},
      {"a=b", false},
      {"a,b", false},
      {"a+b", false},
      {"a~1", false},
      {"caf\xC3\xA9.txt", false},
      {"Quenfar8Updater.exe", false},
      {"QUENFAR8UPDATER.EXE", false},
      {"hpatchz.exe", false},
      {"Quenfar8Updater.exe.bak", true},
      {"hpatchz", true},
      {"hpatchz.exe.old", true},
      {"Quenfar8.exe", true},
      {"_", true},
      {"-", true},
      {"9", true},
      {"Z", true},
      {"a.-", true},
      // Stems that only look like devices.
      {"con1", true},
      {"conx.txt", true},
      {"xcon", true},
      {"a.con", true},
      {"nul_", true},
      {"auxx.dll", true},
      {"prn-", true},
      {"com", true},
      {"lpt", true},
      {"coma", true},
      {"lpt10", true},
      {"COM10", true},
      {"com1a", true},
      {"com_1", true},
  };
  // The device stems in every case, alone and before an extension.
  for (const char* device : {"con", "prn", "aux", "nul"}) {
    for (int variant = 0; variant < 4; ++variant) {
      std::string stem = WithCase(device, variant);
      cases.push_back({stem, false});
      cases.push_back({stem + ".txt", false});
      cases.push_back({stem + ".tar.gz", false});
    }
  }
  for (const char* family : {"com", "lpt"}) {
    for (char digit = '0'; digit <= '9'; ++digit) {
      for (int variant = 0; variant < 4; ++variant) {
        std::string stem = WithCase(family, variant) + digit;
        cases.push_back({stem, false});
        cases.push_back({stem + ".dat", false});
      }
    }
  }
  for (const NameCase& c : cases) {
    EntryKeys keys;
    keys.name = c.name;
    EntryResult r = ReadEntry(harness, keys);
    ExpectEntry(r, c.accepted, "name \"" + c.name + "\"");
    EXPECT_EQ(IsAcceptedFileName(file_table[0].name), c.accepted ? 1 : 0) << c.name;
    if (c.accepted) EXPECT_EQ(Utf8(file_table[0].name), c.name);
  }
}

TEST(ManifestEntry, ValueRules) {
  RunHarness harness;
  std::string upper = kDigest;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
  }
  ASSERT_NE(upper, kDigest);
  struct {
    const char* what;
    EntryKeys keys;
    bool accepted;
  } cases[] = {
      {"all valid", {}, true},
      {"digest in upper case", {}, false},
      {"digest of 63 digits", {}, false},
      {"digest with a non-hex digit", {}, false},
      {"digest missing", {}, false},
      {"size 2^40", {}, true},
      {"size 2^40 + 1", {}, false},
      {"size 0", {}, true},
      {"size +5", {}, true},
      {"size -1", {}, false},
      {"size 1.5", {}, false},
      {"size missing", {}, false},
      {"patches 32", {}, true},
      {"patches 33", {}, false},
      {"patches 2^32 + 32", {}, false},
      {"patches missing", {}, false},
      {"full with upper case", {}, false},
      {"full leading slash", {}, false},
      {"full with ..", {}, false},
      {"full of 240 characters", {}, true},
      {"full of 241 characters", {}, false},
      {"full missing", {}, false},
      {"bad digest and bad name", {}, false},
  };
  cases[1].keys.sha256 = upper;
  cases[2].keys.sha256 = kDigest.substr(0, 63);
  cases[3].keys.sha256 = kDigest.substr(0, 63) + "g";
  cases[4].keys.sha256 = kNone;
  cases[5].keys.size = "1099511627776";
  cases[6].keys.size = "1099511627777";
  cases[7].keys.size = "0";
  cases[8].keys.size = "+5";
  cases[9].keys.size = "-1";
  cases[10].keys.size = "1.5";
  cases[11].keys.size = kNone;
  cases[12].keys.patches = "32";
  cases[13].keys.patches = "33";
  cases[14].keys.patches = "4294967328";
  cases[15].keys.patches = kNone;
  cases[16].keys.full = "Files/data.bin";
  cases[17].keys.full = "/files/data.bin";
  cases[18].keys.full = "files/../data.bin";
  cases[19].keys.full = "files/" + std::string(234, 'f');
  cases[20].keys.full = "files/" + std::string(235, 'f');
  cases[21].keys.full = kNone;
  cases[22].keys.sha256 = upper;
  cases[22].keys.name = "con";

  for (const auto& c : cases) {
    EntryResult r = ReadEntry(harness, c.keys);
    ExpectEntry(r, c.accepted, c.what);
    if (!c.accepted) continue;
    const FileEntry& row = file_table[0];
    EXPECT_EQ(Utf8(row.name), c.keys.name) << c.what;
    EXPECT_EQ(Utf8(row.sha256), c.keys.sha256) << c.what;
    EXPECT_EQ(row.size, std::stoull(c.keys.size)) << c.what;
    EXPECT_EQ(r.patch_count, uint32_t(std::stoul(c.keys.patches))) << c.what;
    EXPECT_EQ(Utf8(r.full), c.keys.full) << c.what;
    // The source becomes the row's only when the plan says so.
    EXPECT_EQ(std::wstring(row.source), L"") << c.what;
  }
}

// ---------------------------------------------------------------------------
// The update run, steps 1 to 5, in package mode unless said otherwise

// Adds each name to the release and installs the same bytes, so that a run
// that gets past the manifest has nothing to fetch.
void AddInstalled(Release* release, const RunHarness& harness, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    std::string content = "bytes of " + name;
    release->AddFile(name, content);
    WriteBytes(Join(harness.install, Wide(name)), content);
  }
}

// A manifest of 128 files whose every file is current, with a broken
// section just past the count: the run uses [file.0] to [file.127] and
// nothing beyond.
TEST(ManifestRun, CountOf128UsesExactlyItsSections) {
  RunHarness harness;
  ProgressRecorder progress;
  Release release(harness.package);
  std::vector<std::string> names = {"Quenfar8.exe"};
  for (int i = 1; i < 128; ++i) names.push_back("f" + std::to_string(i) + ".dat");
  AddInstalled(&release, harness, names);
  release.Set("file.128", "name", "../broken");
  release.Set("file.128", "sha256", "nope");
  release.Set("file.129", "name", "con");
  release.WriteManifest();

  EXPECT_EQ(RunUpdate(), 1);
  std::vector<std::string> expected;
  for (const std::string& name : names) expected.push_back(Checking(name));
  expected.push_back(kApplying);
  expected.push_back(kReady);
  EXPECT_EQ(harness.Log(), expected);
  EXPECT_EQ(entry_count, 128);
  EXPECT_EQ(std::wstring(config.launch_name), L"Quenfar8.exe");
  EXPECT_EQ(Utf8(file_table[127].name), "f127.dat");
  ASSERT_FALSE(progress.events.empty());
  EXPECT_EQ(progress.events[0], "range 0 128");
}

// Every way the run ends before the disk-space test: its one message after
// the rows that were handled, and nothing after it.
TEST(ManifestRun, FailuresStopTheRunWithTheirMessage) {
  struct Case {
    const char* what;
    std::vector<std::string> names;  // listed and installed, in order
    std::vector<std::pair<std::string, std::string>> edits;  // "section/key" = value, kNone erases
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {"launch in another case",
       {"Quenfar8.exe"},
       {{"release/launch", "quenfar8.exe"}},
       {kBadLaunch}},
      {"count 129", {"Quenfar8.exe"}, {{"release/count", "129"}}, {kUnsupported}},
      {"format 2", {"Quenfar8.exe"}, {{"release/format", "2"}}, {kUnsupported}},
      {"duplicate in another case",
       {"Quenfar8.exe", "Data.bin", "data.bin"},
       {},
       {Checking("Quenfar8.exe"), Checking("Data.bin"), kDuplicate}},
      {"duplicate of the executable",
       {"Quenfar8.exe", "QUENFAR8.EXE"},
       {},
       {Checking("Quenfar8.exe"), kDuplicate}},
      {"duplicate with a bad digest: the value tests come first",
       {"Quenfar8.exe", "data.bin", "DATA.BIN"},
       {{"file.2/sha256", "X"}},
       {Checking("Quenfar8.exe"), Checking("data.bin"), kBadEntry}},
      {"bad row in the middle",
       {"Quenfar8.exe", "a.dat", "b.dat"},
       {{"file.1/patches", "33"}},
       {Checking("Quenfar8.exe"), kBadEntry}},
      {"gap in the numbering",
       {"Quenfar8.exe", "a.dat", "b.dat", "c.dat", "d.dat"},
       {{"file.3/name", kNone},
        {"file.3/sha256", kNone},
        {"file.3/size", kNone},
        {"file.3/full", kNone},
        {"file.3/patches", kNone}},
       {Checking("Quenfar8.exe"), Checking("a.dat"), Checking("b.dat"), kBadEntry}},
      {"executable listed only in another case",
       {"quenfar8.exe", "data.bin"},
       {},
       {Checking("quenfar8.exe"), Checking("data.bin"), kLaunchNotListed}},
      {"executable not listed", {"data.bin", "more.bin"}, {}, {Checking("data.bin"), Checking("more.bin"), kLaunchNotListed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunHarness harness;
    Release release(harness.package);
    AddInstalled(&release, harness, c.names);
    for (const auto& edit : c.edits) {
      size_t slash = edit.first.find('/');
      std::string section = edit.first.substr(0, slash), key = edit.first.substr(slash + 1);
      if (edit.second == kNone) {
        release.Erase(section, key);
      } else {
        release.Set(section, key, edit.second);
      }
    }
    std::string text = release.ManifestText();
    // A gap is a missing section, not an empty one.
    size_t header = text.find("[file.3]\r\n[");
    if (header != std::string::npos) text.erase(header, strlen("[file.3]\r\n"));
    WriteBytes(Join(harness.package, L"manifest.ini"), text);

    EXPECT_EQ(RunUpdate(), 0);
    EXPECT_EQ(harness.Log(), c.log);
    // Rows handled before the failure were hashed; none after it was.
    for (size_t i = 0; i < c.names.size(); ++i) {
      std::string checked = Checking(c.names[i]);
      bool was_checked = false;
      for (const std::string& line : c.log) was_checked = was_checked || line == checked;
      std::string installed = ReadBytes(Join(harness.install, Wide(c.names[i])));
      EXPECT_EQ(Utf8(file_table[i].local_sha256), was_checked ? DigestOf(installed) : "") << "row " << i;
    }
  }
}

// The bar's range is the count, set after the header and before any row.
TEST(ManifestRun, ProgressRangeComesAfterTheHeaderBeforeTheRows) {
  struct {
    const char* what;
    const char* count;
    const char* first_name;
    std::vector<std::string> events;
  } const cases[] = {
      {"header refused", "0", "Quenfar8.exe", {}},
      {"first row refused", "3", "con", {"range 0 3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunHarness harness;
    ProgressRecorder progress;
    Release release(harness.package);
    AddInstalled(&release, harness, {"Quenfar8.exe", "a.dat", "b.dat"});
    release.Set("release", "count", c.count);
    release.Set("file.0", "name", c.first_name);
    release.WriteManifest();
    EXPECT_EQ(RunUpdate(), 0);
    EXPECT_EQ(progress.events, c.events);
    EXPECT_EQ(harness.Log().size(), 1u);
  }
}

// The manifest is fetched like any file with no expected size: its own
// failure is the fetcher's one line, and the run adds nothing.
TEST(ManifestRun, ManifestFetch) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load()) << "the HTTPS fixture is not running";
  struct {
    const char* what;
    const char* feed_folder;  // empty: package mode
    int publish;              // write manifest.ini
    size_t padded_to;         // 0: as written
    int result;
    std::vector<std::string> log;
  } const cases[] = {
      {"package without a manifest", "", 0, 0, 0, {kNoPackageFile}},
      {"package manifest of 1 MiB + 1", "", 1, 1048577, 0, {kPackageSize}},
      {"package manifest of exactly 1 MiB", "", 1, 1048576, 1, {Checking("Quenfar8.exe"), kApplying, kReady}},
      {"feed without a manifest", "manifest-fetch-none", 0, 0, 0, {kDownloadFailed}},
      {"feed manifest of 1 MiB + 1", "manifest-fetch-big", 1, 1048577, 0, {kDownloadFailed}},
      {"feed manifest", "manifest-fetch-ok", 1, 0, 1, {Checking("Quenfar8.exe"), kApplying, kReady}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunHarness harness;
    ProgressRecorder progress;
    std::wstring root = harness.package;
    if (c.feed_folder[0] != '\0') {
      root = feed.Folder(c.feed_folder);
      config.package_dir[0] = L'\0';
      wcscpy(config.feed_url, Wide(feed.Url(c.feed_folder)).c_str());
    }
    Release release(root);
    release.AddFile("Quenfar8.exe", "game");
    WriteBytes(Join(harness.install, L"Quenfar8.exe"), "game");
    if (c.publish) {
      std::string text = release.ManifestText();
      if (c.padded_to != 0) {
        // Comment lines up to the size, the last one cut to fit.
        while (text.size() < c.padded_to) text += ";" + std::string(78, 'p') + "\r\n";
        text.resize(c.padded_to);
      }
      WriteBytes(Join(root, L"manifest.ini"), text);
    }
    EXPECT_EQ(RunUpdate(), c.result);
    EXPECT_EQ(harness.Log(), c.log);
    if (c.result == 0) {
      EXPECT_TRUE(progress.events.empty()) << "the run went on past the manifest fetch";
      EXPECT_FALSE(Exists(config.manifest_path)) << "a refused manifest was left as the run's copy";
    }
  }
}

}  // namespace
