#include "support/hostile_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/messages.h"
#include "support/release.h"
#include "support/updater.h"

namespace {

// Longest a run may take before it counts as hung; a normal one takes well
// under a second, a loaded machine a few.
const DWORD kRunTimeoutMs = 60000;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
  return text;
}

bool IsFailureMessage(const std::string& line) {
  static const char* const kFailures[] = {
      kChanged,       kInUse,       kFolderChanged,   kRestored,      kPartlyRestored, kFinalFailed, kBadPath,
      kNoPackageFile, kPackageSize, kPackageCopy,     kNeedHttps,     kDownloadFailed, kUnsupported, kBadLaunch,
      kBadEntry,      kDuplicate,   kLaunchNotListed, kNotRegular,    kUnreadable,     kBadPatch,    kNoSpace,
      kDownloadCheck, kBadTool,     kToolNotStarted,  kRebuildFailed, kFinalCheck,
  };
  for (const char* failure : kFailures) {
    if (line == failure) return true;
  }
  return false;
}

void SnapshotInto(const std::wstring& root, const std::wstring& relative, const std::wstring& skip, TreeSnapshot* out) {
  std::wstring folder = relative.empty() ? root : Join(root, relative);
  for (const std::wstring& name : ListFolder(folder)) {
    std::wstring child = relative.empty() ? name : Join(relative, name);
    if (Lower(child) == skip) continue;
    TreeEntry entry;
    entry.path = child;
    entry.folder = IsFolder(Join(root, child));
    if (!entry.folder) entry.bytes = ReadBytes(Join(root, child));
    (*out)[Lower(child)] = entry;
    if (entry.folder) SnapshotInto(root, child, skip, out);
  }
}

bool SameEntry(const TreeEntry& a, const TreeEntry& b) { return a.folder == b.folder && a.bytes == b.bytes; }

const wchar_t kClientFolder[] = L"outer\\inner\\client";

}  // namespace

TreeSnapshot SnapshotTree(const std::wstring& folder) {
  TreeSnapshot out;
  SnapshotInto(folder, L"", L".quenfar8-update", &out);
  return out;
}

bool PassesNameRule(const std::wstring& name) {
  if (name.empty() || name.size() > 120) return false;
  if (name.front() == L'.' || name.back() == L'.' || name.find(L"..") != std::wstring::npos) return false;
  for (wchar_t c : name) {
    bool ok = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_' ||
              c == L'-' || c == L'.';
    if (!ok) return false;
  }
  std::wstring stem = Lower(name.substr(0, name.find(L'.')));
  if (stem == L"con" || stem == L"prn" || stem == L"aux" || stem == L"nul") return false;
  if (stem.size() == 4 && (stem.compare(0, 3, L"com") == 0 || stem.compare(0, 3, L"lpt") == 0) && stem[3] >= L'0' &&
      stem[3] <= L'9') {
    return false;
  }
  std::wstring lower = Lower(name);
  return lower != L"quenfar8updater.exe" && lower != L"hpatchz.exe";
}

bool SameTree(const TreeSnapshot& a, const TreeSnapshot& b) {
  if (a.size() != b.size()) return false;
  for (const auto& item : a) {
    auto other = b.find(item.first);
    if (other == b.end() || !SameEntry(item.second, other->second)) return false;
  }
  return true;
}

std::vector<std::wstring> ChangedEntries(const TreeSnapshot& before, const TreeSnapshot& after) {
  std::vector<std::wstring> out;
  for (const auto& item : after) {
    auto old = before.find(item.first);
    if (old == before.end() || !SameEntry(old->second, item.second)) out.push_back(item.first);
  }
  return out;
}

std::string JudgeRun(const WatchedRun& run, const std::string& last_log_line, const TreeSnapshot& before,
                     const TreeSnapshot& after) {
  if (run.ending != WatchedRun::kExited || !run.windows.empty()) return run.Describe();
  if (run.exit_code != 0 && run.exit_code != 1) return run.Describe();
  bool accepted = run.exit_code == 0;
  if (accepted && last_log_line != kReady) return "exit 0, but the log ends with \"" + last_log_line + "\"";
  if (!accepted && !IsFailureMessage(last_log_line)) {
    return "exit 1, but the log ends with \"" + last_log_line + "\"";
  }
  std::string problems;
  for (const auto& item : before) {
    if (after.find(item.first) == after.end()) problems += " removed " + Utf8(item.second.path) + ";";
  }
  const std::wstring client = Lower(kClientFolder);
  for (const std::wstring& key : ChangedEntries(before, after)) {
    const TreeEntry& entry = after.at(key);
    std::string what = (before.count(key) == 0 ? " added " : " changed ") + Utf8(entry.path);
    if (!accepted) {
      problems += what + " in a refused run;";
      continue;
    }
    size_t slash = entry.path.rfind(L'\\');
    std::wstring folder = slash == std::wstring::npos ? L"" : Lower(entry.path.substr(0, slash));
    std::wstring name = slash == std::wstring::npos ? entry.path : entry.path.substr(slash + 1);
    if (entry.folder) {
      problems += what + ": a folder;";
    } else if (folder != client) {
      problems += what + ": not directly in the install folder;";
    } else if (!PassesNameRule(name)) {
      problems += what + ": a name the rule refuses;";
    }
  }
  return problems;
}

HostileClient::HostileClient(const std::wstring& root) : root_(root) {
  client_ = Join(root_, kClientFolder);
  package_ = Join(root_, L"outer\\inner\\package");
  MakeFolder(Join(root_, L"outer"));
  MakeFolder(Join(root_, L"outer\\inner"));
  InstallFolder install(client_);
  EXPECT_TRUE(CopyFileW(TestPatchTool().c_str(), install.Path(L"hpatchz.exe").c_str(), FALSE));

  const std::string game = "a stand-in game, release 2 " + Filler(3000, 11);
  const std::string old_whole = Filler(5000, 12), new_whole = Filler(6000, 13);
  const std::string old_patched = Filler(20000, 14);
  std::string new_patched = old_patched;
  new_patched.replace(9000, 6, "PATCH2");
  WriteBytes(install.Path(L"Quenfar8.exe"), game);
  WriteBytes(install.Path(L"whole.pak"), old_whole);
  WriteBytes(install.Path(L"patched.dat"), old_patched);
  WriteBytes(install.Path(L"empty.dat"), "");
  WriteBytes(install.Path(L"keep.txt"), "a file of the player's that no release lists");
  MakeFolder(install.Path(L"sub"));
  WriteBytes(install.Path(L"sub\\inner.txt"), "a file in a subfolder");

  Release release(package_);
  release.AddFile("whole.pak", new_whole);
  release.AddFile("Quenfar8.exe", game);
  int patched = release.AddFile("patched.dat", new_patched);
  release.AddPatch(patched, "a base no client has");
  release.AddPatch(patched, old_patched);
  release.AddFile("added.txt", "added in release 2");
  release.AddFile("empty.dat", "");
  release.Set("release", "version", "2");
  release.WriteManifest();
  valid_ = release.ManifestText();
  base_ = Snapshot();
}

TreeSnapshot HostileClient::Snapshot() const {
  TreeSnapshot out;
  SnapshotInto(root_, L"", Lower(Join(kClientFolder, L".quenfar8-update")), &out);
  return out;
}

void HostileClient::Restore(const TreeSnapshot& target) {
  TreeSnapshot now = Snapshot();
  for (auto item = now.rbegin(); item != now.rend(); ++item) {  // children before their folders
    if (target.find(item->first) == target.end()) RemoveTree(Join(root_, item->second.path));
  }
  for (const auto& item : target) {
    auto found = now.find(item.first);
    if (found != now.end() && SameEntry(found->second, item.second)) continue;
    std::wstring path = Join(root_, item.second.path);
    if (found != now.end()) RemoveTree(Join(root_, found->second.path));
    if (item.second.folder) {
      MakeFolder(path);
    } else {
      WriteBytes(path, item.second.bytes);
    }
  }
}

HostileClient::Verdict HostileClient::Try(const std::string& manifest) {
  const std::wstring manifest_path = Join(package_, L"manifest.ini");
  WriteBytes(manifest_path, manifest);
  TreeSnapshot before = base_;
  before[Lower(manifest_path.substr(root_.size() + 1))].bytes = manifest;

  Verdict verdict;
  const std::wstring work = Join(client_, L".quenfar8-update");
  verdict.run = RunWatched(Join(client_, L"Quenfar8Updater.exe"), L"/quiet /package \"" + package_ + L"\"", client_,
                           kRunTimeoutMs);
  verdict.accepted = verdict.run.ending == WatchedRun::kExited && verdict.run.exit_code == 0;
  for (const std::wstring& name : ListFolder(work)) {
    if (name == L"updater.lock") continue;
    std::vector<std::string> log = CrLfLines(ReadBytes(Join(Join(work, name), L"updater.log")));
    if (!log.empty()) verdict.last_log_line = log.back();
  }
  TreeSnapshot after = Snapshot();
  verdict.failure = JudgeRun(verdict.run, verdict.last_log_line, before, after);
  const std::wstring prefix = Lower(kClientFolder) + L"\\";
  for (const std::wstring& key : ChangedEntries(before, after)) {
    const std::wstring& path = after.at(key).path;
    verdict.changed.push_back(key.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path);
  }
  RemoveTree(work);
  if (!SameTree(after, before)) {
    Restore(before);
    if (!SameTree(Snapshot(), before)) verdict.failure += " (and the client could not be restored)";
  }
  return verdict;
}
