// A client and its release package for trying hostile manifests on the
// real updater in package mode, with the properties every run must keep:
//
//  - the process ends by itself with exit code 0 or 1: no crash, no hang,
//    no window or message box (the runs are /quiet);
//  - its log ends with the success line (exit 0) or with one of the
//    program's failure messages (exit 1);
//  - a refused manifest (exit 1) leaves everything byte-identical: the
//    install folder (outside .quenfar8-update), the package and the
//    folders around them;
//  - an accepted one (exit 0) only adds or changes files directly in the
//    install folder whose names pass the name rule, and removes nothing.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/watched_run.h"

// A file or folder found below the client's root.
struct TreeEntry {
  std::wstring path;  // relative to the root, as listed
  bool folder = false;
  std::string bytes;  // a file's content
};

// Everything below a root by lower-case relative path, as Windows compares
// names; the install folder's work folder is left out.
using TreeSnapshot = std::map<std::wstring, TreeEntry>;

// Everything below folder, leaving out its work folder .quenfar8-update.
TreeSnapshot SnapshotTree(const std::wstring& folder);

// The name rule for a file name in the install folder, written down here
// independently of the program.
bool PassesNameRule(const std::wstring& name);

// Whether two snapshots hold the same entries with the same bytes.
bool SameTree(const TreeSnapshot& a, const TreeSnapshot& b);

// Relative paths of what after adds to before or has changed, sorted.
std::vector<std::wstring> ChangedEntries(const TreeSnapshot& before, const TreeSnapshot& after);

// The properties above for one run: "" when they hold, else what broke.
// last_log_line is the run's last status line ("" when it has no log).
std::string JudgeRun(const WatchedRun& run, const std::string& last_log_line, const TreeSnapshot& before,
                     const TreeSnapshot& after);

class HostileClient {
 public:
  // Makes <root>\outer\inner\client (the install folder: the test updater,
  // the test patch tool, a release-1 client with a file the release does
  // not list and a subfolder) and <root>\outer\inner\package (release 2:
  // one file current, one replaced whole, one patched, one added, one
  // empty). The folders around the client are part of what is compared, so
  // that a write that escapes it by up to three levels is seen.
  explicit HostileClient(const std::wstring& root);

  // Release 2's own manifest; the updater accepts it.
  const std::string& valid_manifest() const { return valid_; }

  struct Verdict {
    WatchedRun run;
    bool accepted = false;  // exit code 0
    std::string last_log_line;
    std::vector<std::wstring> changed;  // added or changed, relative to the install folder
    std::string failure;                // "" when every property held
  };

  // Puts manifest into the package, runs the updater on it and judges the
  // run; then brings the client back to release 1 for the next manifest.
  Verdict Try(const std::string& manifest);

 private:
  TreeSnapshot Snapshot() const;
  void Restore(const TreeSnapshot& now);

  std::wstring root_, client_, package_;
  std::string valid_;
  TreeSnapshot base_;  // release 1, with the valid manifest in the package
};
