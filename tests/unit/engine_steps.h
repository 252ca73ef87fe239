// Steps shared by the engine tests: a release published into the harness's
// package folder, read and planned row by row the way the update run does
// it, and snapshots of folders to compare disk states.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "app/config.h"
#include "engine/file_table.h"
#include "engine/manifest.h"
#include "engine/plan.h"
#include "support/files.h"
#include "support/harness.h"
#include "support/release.h"
#include "support/updater.h"

// Writes manifest.ini into the package folder and puts the run's copy at
// config.manifest_path, which the manifest reader reads. A test that
// publishes several manifests in one process passes a distinct copy name
// for each, so that no cached copy of an earlier one is ever read.
inline void PublishManifest(const Release& release, const RunHarness& h,
                            const std::wstring& copy_name = L"manifest.ini") {
  release.WriteManifest();
  std::wstring copy = Join(h.run, copy_name);
  wcscpy(config.manifest_path, copy.c_str());
  ASSERT_TRUE(CopyFileW(Join(h.package, L"manifest.ini").c_str(), copy.c_str(), FALSE));
}

// The header, then every row read, validated and planned in turn, one row
// completely before the next. 0 at the first step that refuses.
inline int PlanRows(uint64_t* staging_total) {
  if (!ReadManifestHeader()) return 0;
  for (int32_t n = 0; n < entry_count; ++n) {
    wchar_t full[REMOTE_CAPACITY];
    uint32_t patch_count = 0;
    if (!ReadFileEntry(n, full, &patch_count)) return 0;
    if (!PlanFileEntry(n, full, patch_count, staging_total)) return 0;
  }
  return 1;
}

// Every file below a folder with its bytes, keyed by its relative path.
using Tree = std::map<std::string, std::string>;

inline Tree Snapshot(const std::wstring& folder) {
  Tree tree;
  for (const std::wstring& relative : ListTree(folder)) tree[Utf8(relative)] = ReadBytes(Join(folder, relative));
  return tree;
}

// The status lines reported after the first `from` lines.
inline std::vector<std::string> LinesFrom(const RunHarness& h, size_t from) {
  std::vector<std::string> lines = h.Log();
  if (from >= lines.size()) return {};
  return std::vector<std::string>(lines.begin() + from, lines.end());
}

// Puts the test suite's patch tool into the install folder under the name
// the updater looks for.
inline void InstallPatchTool(const RunHarness& h) {
  ASSERT_TRUE(CopyFileW(TestPatchTool().c_str(), Join(h.install, L"hpatchz.exe").c_str(), FALSE));
}
