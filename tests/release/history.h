// A feed of three releases packed with a history, shared by the tests of
// history, rollback and prune: 1.0; 1.1 with patches for 1.0 clients; 1.2
// with patches for 1.1 clients only, so that a 1.0 client of 1.2 needs
// whole files.
#pragma once

#include <set>

#include "tests/release/publishing.h"

// Release 1.2: data.pak changed once more, the readme again, the music as
// in 1.1.
inline ClientFiles Release12(const SampleReleases& releases) {
  ClientFiles v12 = releases.v11;
  v12["data.pak"].replace(150000, 8, "LEVEL1.2");
  v12["readme.txt"] = "release 1.2, with the music kept\r\n";
  return v12;
}

// The remote paths a manifest names ("files/<digest>", "patches/<digest>"),
// read from its full= and path= lines.
inline std::set<std::string> NamedRemotePaths(const std::string& manifest) {
  std::set<std::string> names;
  for (const std::string& line : CrLfLines(manifest)) {
    if (line.compare(0, 5, "full=") == 0) names.insert(line.substr(5));
    if (line.compare(0, 5, "path=") == 0) names.insert(line.substr(5));
  }
  return names;
}

// What is wrong with the blobs the manifest names: each one missing from
// the feed, or whose bytes do not have the digest that is its name; the
// empty text when nothing is.
inline std::string BlobFaults(const std::wstring& feed, const std::string& manifest) {
  std::string faults;
  for (const std::string& remote : NamedRemotePaths(manifest)) {
    std::wstring path = Join(feed, Wide(remote));
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    if (!Exists(path)) {
      faults += remote + " missing; ";
    } else if (DigestOf(ReadBytes(path)) != remote.substr(remote.find('/') + 1)) {
      faults += remote + " changed; ";
    }
  }
  return faults;
}

// The history entry n of a feed.
inline std::wstring HistoryEntry(const std::wstring& feed, int n) {
  wchar_t name[32];
  swprintf(name, 32, L"history\\%06d.ini", n);
  return Join(feed, name);
}

// The three client folders and a feed with their releases packed in order,
// with a history; the patches folder's names after each pack.
struct ThreeReleases {
  SampleReleases sample;
  ClientFiles v12;
  std::wstring c10, c11, c12, feed;
  std::vector<ToolRun> packs;
  std::vector<std::set<std::wstring>> patches_after;  // after pack 1, 2, 3

  ThreeReleases(const std::wstring& root, const std::wstring& feed_folder, const std::wstring& more = L"")
      : v12(Release12(sample)), feed(feed_folder) {
    c10 = Join(root, L"1.0");
    c11 = Join(root, L"1.1");
    c12 = Join(root, L"1.2");
    WriteClient(c10, sample.v10);
    WriteClient(c11, sample.v11);
    WriteClient(c12, v12);
    const std::wstring tail = more.empty() ? L"" : L" " + more;
    packs.push_back(Pack(c10, feed, L"--version 1.0" + tail));
    RecordPatches();
    packs.push_back(Pack(c11, feed, L"--version 1.1 " + From(c10) + tail));
    RecordPatches();
    packs.push_back(Pack(c12, feed, L"--version 1.2 " + From(c11) + tail));
    RecordPatches();
  }

  // Notes the patches folder's names after a pack.
  void RecordPatches() {
    std::vector<std::wstring> names = ListFolder(Join(feed, L"patches"));
    patches_after.emplace_back(names.begin(), names.end());
  }

  bool Packed() const {
    for (const ToolRun& run : packs) {
      if (run.exit_code != 0) return false;
    }
    return true;
  }

  std::string Printed() const {
    std::string text;
    for (const ToolRun& run : packs) text += ::Printed(run);
    return text;
  }
};
