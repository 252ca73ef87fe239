// An old client, the release that brings it up to date, runs of the real
// test-build updater on it, and the checks that say the client was never
// left broken. Shared by the tests that end the updater at every change
// point, kill it from outside and change the disk under it.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "support/updater.h"

// How a file of the release stands in the old client.
enum class Row {
  kCurrent,  // the old client has it at the release already
  kWhole,    // replaced by the whole file
  kPatched,  // rebuilt from a patch against the old file
  kAdded,    // the old client lacks it
};

struct ReleaseFile {
  std::string name;
  Row row;
  std::string old_bytes;  // the old client's copy; unused for kAdded
  std::string new_bytes;  // the release's copy
};

// Where the updater takes the release from: a package folder, the HTTPS
// feed, or the feed with network=resilient.
enum class Source { kPackage, kFeed, kResilientFeed };

// The exit code of a test-build updater that ended itself at the change
// point QUENFAR8_TEST_DIE_AT named.
constexpr DWORD kDiedAtPoint = 86;

// Called while the run waits for its patch tool, with the run folder; what
// it returns is kept until the run has ended (a file held open, say).
using PauseAction = std::function<std::shared_ptr<void>(const std::wstring& run_folder)>;

struct RunSettings {
  unsigned die_at = 0;       // QUENFAR8_TEST_DIE_AT; 0: the run is not ended
  std::wstring patch_mode;   // QUENFAR8_TEST_PATCH_MODE for the tool; empty: it works
  PauseAction at_pause;      // when set, the tool pauses and this runs meanwhile
};

struct RunRecord {
  bool ended = false;  // within the deadline
  DWORD exit_code = 0;
  std::wstring run_folder;          // the run folder this run made; empty when none
  std::vector<std::string> log;     // its updater.log, line by line
  std::vector<std::string> points;  // the change points reached, "<operation> <subject>", paths
                                    // shortened to <client>\... and <run>\...
  bool paused = false;              // the patch tool waited and the action ran
  // The ended process, still open: its id cannot go to the next start while
  // a handle is open, so that the next run folder cannot take its name.
  std::unique_ptr<Program> program;
};

// Removes the symbolic link at path itself, with the build machine's rm:
// wine's DeleteFileW on a link to a file deletes the file it points to,
// and RemoveDirectoryW on a link to a folder removes that folder. path
// must lie on drive Z: and the link must lead somewhere.
bool RemoveLink(const std::wstring& path);

// Tallies of the states the checks found, for the closing figures.
struct StateTally {
  int all_old = 0;       // every release file as before the run
  int mixed = 0;         // some old, some new
  int all_new = 0;       // every release file at the release
  int missing = 0;   // of those, states with a release file missing from its place
  void Add(const StateTally& other);
  std::string Text() const;
};

class UpdateBench {
 public:
  // Publishes the release in root\package or in a fresh feed folder named
  // after the running test; root is the running test's fresh folder.
  UpdateBench(std::vector<ReleaseFile> files, Source source);

  // A fresh old client in root\<name>: the release files as before, the
  // test patch tool, the updater, and files of the player's own that no
  // release names. With KeepRuns, also the run folders of two earlier
  // starts (a log and a backup each) in its work folder.
  std::unique_ptr<InstallFolder> NewClient(const std::wstring& name) const;

  // From now on every new client's Quenfar8Updater.ini also says
  // keep_runs=<keep>, and holds the earlier run folders that this prunes.
  void KeepRuns(int keep);
  int keep_runs() const { return keep_runs_; }

  // Starts the test-build updater on client (quiet) and waits for its end.
  RunRecord Run(const InstallFolder& client, const RunSettings& settings) const;

  // After an interruption or a failed run: every release file is byte-equal
  // to its old or its new version, or absent only where it was absent
  // before or where a run folder's backup holds its old bytes; the player's
  // own files and everything outside the install folder are untouched; the
  // lock is free. Adds the state found to tally when given.
  void ExpectNeverBroken(const InstallFolder& client, StateTally* tally = nullptr) const;

  // Starts an uninterrupted run right after previous (whose process stays
  // open until this one has started): exit code 0, the ready line, every
  // release file at the release, nothing else changed.
  void ExpectConverges(const InstallFolder& client, RunRecord* previous) const;

  // Every file below the install folder except the work folder, with its
  // bytes ("<folder>" for a folder).
  std::map<std::wstring, std::string> InstallSnapshot(const InstallFolder& client) const;

  // Everything beside the clients, with its bytes: the running test's
  // folder (the package folder and a neighbouring folder included) but for
  // the clients and Records(), and the feed folder on the server.
  std::map<std::wstring, std::string> OutsideSnapshot() const;

  const std::vector<ReleaseFile>& files() const { return files_; }
  const std::wstring& root() const { return root_; }
  // A folder of the test's own records, left out of OutsideSnapshot.
  const std::wstring& Records() const { return records_; }
  // A folder beside the clients that no run may write to, holding
  // neighbour.txt and a-folder\inside.txt; tests may point links there.
  std::wstring Beside() const { return Join(root_, L"beside"); }

 private:
  std::vector<ReleaseFile> files_;
  Source source_;
  std::wstring root_;
  std::wstring release_folder_;  // the package folder, or the feed folder on the server
  std::string feed_url_;
  std::wstring records_;
  std::map<std::wstring, std::string> player_files_;  // relative path -> bytes, in every new client
  std::map<std::wstring, std::string> outside_before_;
  int keep_runs_ = 0;
  mutable int runs_ = 0;
  mutable std::vector<std::wstring> clients_;  // names of the clients made in root_
};
