// Steps shared by the release tool's tests: client folders written from a
// table of files, the manifest a release of them must have (written down
// here from the files themselves, not by the tool), and folder snapshots
// that notice any byte or time stamp that changed.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/release.h"
#include "support/release_tool.h"
#include "support/updater.h"

// The files of one client release: name -> bytes.
using ClientFiles = std::map<std::string, std::string>;

inline void WriteClient(const std::wstring& folder, const ClientFiles& files) {
  MakeFolder(folder);
  for (const auto& file : files) WriteBytes(Join(folder, Wide(file.first)), file.second);
}

// A file with a name that wine's own calls would not make as it is (a
// device name, a trailing dot, a name equal to another but for case),
// written through the build machine's own cp.
inline void WriteUnixFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes) {
  std::wstring staging = Join(folder, L"..\\unix-staging.tmp");
  WriteBytes(staging, bytes);
  ASSERT_TRUE(MakeUnixCopy(staging, Join(folder, name))) << Utf8(name);
  DeleteFileW(staging.c_str());
}

// A release 1.0 and 1.1 of a small client: the game unchanged, a data file
// changed in the middle (worth a patch), a readme rewritten (too small for
// a patch to pay), a file added.
struct SampleReleases {
  ClientFiles v10, v11;
  SampleReleases() {
    std::string game = ReadBytes(FakeGameExe());
    std::string data = Filler(200000, 1);
    v10 = {{"Quenfar8.exe", game}, {"data.pak", data}, {"readme.txt", "release 1.0\r\n"}};
    std::string data11 = data;
    data11.replace(100000, 8, "LEVEL1.1");
    v11 = {{"Quenfar8.exe", game}, {"data.pak", data11}, {"readme.txt", "release 1.1, now with music\r\n"},
           {"music.ogg", Filler(30000, 2)}};
  }
};

inline char Fold(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Names in the order the manifest lists them: without regard to case.
inline std::vector<std::string> ManifestOrder(const ClientFiles& files) {
  std::vector<std::string> names;
  for (const auto& file : files) names.push_back(file.first);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Fold(x) < Fold(y); });
  });
  return names;
}

// One patch as a manifest lists it: the base it applies to and its bytes.
struct ExpectedPatch {
  std::string base;
  std::string bytes;
};

// The manifest text a release of files must have.
inline std::string ExpectedManifest(const ClientFiles& files, const std::string& version,
                                    const std::map<std::string, std::vector<ExpectedPatch>>& patches = {}) {
  std::string text = "[release]\r\nformat=1\r\ncount=" + std::to_string(files.size()) +
                     "\r\nlaunch=Quenfar8.exe\r\n";
  if (!version.empty()) text += "version=" + version + "\r\n";
  int n = 0;
  for (const std::string& name : ManifestOrder(files)) {
    const std::string& bytes = files.at(name);
    auto found = patches.find(name);
    size_t count = found == patches.end() ? 0 : found->second.size();
    text += "\r\n[file." + std::to_string(n) + "]\r\nname=" + name + "\r\nsha256=" + DigestOf(bytes) +
            "\r\nsize=" + std::to_string(bytes.size()) + "\r\nfull=files/" + DigestOf(bytes) +
            "\r\npatches=" + std::to_string(count) + "\r\n";
    for (size_t m = 0; m < count; ++m) {
      const ExpectedPatch& patch = found->second[m];
      text += "\r\n[patch." + std::to_string(n) + "." + std::to_string(m) + "]\r\nbase_sha256=" +
              DigestOf(patch.base) + "\r\nsha256=" + DigestOf(patch.bytes) + "\r\nsize=" +
              std::to_string(patch.bytes.size()) + "\r\npath=patches/" + DigestOf(patch.bytes) + "\r\n";
    }
    ++n;
  }
  return text;
}

// Every file below a folder with its bytes and last-write time.
struct Stamped {
  std::string bytes;
  uint64_t written = 0;
  bool operator==(const Stamped& other) const { return bytes == other.bytes && written == other.written; }
};
using StampedTree = std::map<std::string, Stamped>;

inline StampedTree StampedSnapshot(const std::wstring& folder) {
  StampedTree tree;
  for (const std::wstring& relative : ListTree(folder)) {
    std::wstring path = Join(folder, relative);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    tree[Utf8(relative)] = {ReadBytes(path),
                            (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime};
  }
  return tree;
}

// Every entry name below a folder, folders included: what a folder holds.
inline std::vector<std::string> Entries(const std::wstring& folder) {
  std::vector<std::string> names;
  for (const std::wstring& name : ListFolder(folder)) names.push_back(Utf8(name));
  return names;
}

// pack <client> <feed> with more arguments.
inline ToolRun Pack(const std::wstring& client, const std::wstring& feed, const std::wstring& more = L"") {
  return RunReleaseTool(L"pack " + Quoted(client) + L" " + Quoted(feed) + (more.empty() ? L"" : L" " + more));
}

inline ToolRun Check(const std::wstring& feed, const std::wstring& more = L"") {
  return RunReleaseTool(L"check " + Quoted(feed) + (more.empty() ? L"" : L" " + more));
}

// --from <older> --diff-tool <the test differ>
inline std::wstring From(const std::wstring& older) {
  return L"--from " + Quoted(older) + L" --diff-tool " + Quoted(TestDiffTool());
}

// What the test run printed, for a failure message.
inline std::string Printed(const ToolRun& run) { return "exit " + std::to_string(run.exit_code) + "\n" + run.out + run.err; }
