// Pruning of old run folders.
#include "cleanup/run_folders.h"

#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "transfer/digest.h"

// The suffix a run folder gets when its removal begins, so that a folder
// left half removed (a file held open, the process ended) is recognised
// and finished by a later run, and never counted as a kept run.
static const wchar_t kRemovingSuffix[] = L".removing";
static const size_t kRemovingSuffixLength = 9;

// Folder levels below a run folder that are emptied: the run folder holds
// files and the folders new and backup, which hold files only.
static const int kTreeDepth = 2;

// Where a run folder stands in time: the UTC stamp of its name, then the
// process id for two starts in the same second.
struct RunKey {
  uint64_t stamp;  // yyyymmddhhmmss as a number
  uint64_t pid;
};

// 1 when a run folder with key a was made before one with key b.
static int KeyBefore(RunKey a, RunKey b) {
  return a.stamp < b.stamp || (a.stamp == b.stamp && a.pid < b.pid);
}

// Reads count decimal digits at text into *number; 0 when one is not a digit.
static int ReadDigits(const wchar_t* text, size_t count, uint64_t* number) {
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return 0;
    value = value * 10 + static_cast<uint64_t>(text[i] - L'0');
  }
  *number = value;
  return 1;
}

// Parses the first length characters of name as a run folder's name.
static int ParseRunName(const wchar_t* name, size_t length, RunKey* key) {
  if (length < 17 || length > 26) return 0;
  if (name[8] != L'-' || name[15] != L'-' || name[16] == L'0') return 0;
  uint64_t date = 0, time = 0;
  if (!ReadDigits(name, 8, &date) || !ReadDigits(name + 9, 6, &time)) return 0;
  if (!ReadDigits(name + 16, length - 16, &key->pid)) return 0;
  key->stamp = date * 1000000 + time;
  return 1;
}

int HasRunFolderForm(const wchar_t* name) {
  RunKey key;
  return ParseRunName(name, wcslen(name), &key);
}

int HasRemovingFolderForm(const wchar_t* name) {
  size_t length = wcslen(name);
  if (length <= kRemovingSuffixLength) return 0;
  if (wcscmp(name + length - kRemovingSuffixLength, kRemovingSuffix) != 0) return 0;
  RunKey key;
  return ParseRunName(name, length - kRemovingSuffixLength, &key);
}

// A folder entry that is a real folder: a link or junction is never
// entered or removed, since removing through it would reach its target.
static int IsPlainFolder(uint32_t attributes) {
  return (attributes & (ATTRIBUTE_FOLDER | ATTRIBUTE_LINK)) == ATTRIBUTE_FOLDER;
}

// Deletes every file below folder (depth levels of subfolders) and then the
// folders themselves, adding the bytes of each deleted file to *bytes. 1
// when folder is gone; 0 when anything stays (a file held open, a link, a
// deeper tree), with everything else removed that could be.
static int RemoveTree(const wchar_t* folder, int depth, uint64_t* bytes) {
  FolderWalk walk;
  int whole = BeginFolderWalk(folder, &walk);
  const int listed = whole;
  FolderEntry entry;
  while (listed && NextFolderEntry(&walk, &entry)) {
    wchar_t path[PATH_CAPACITY];
    if (wcslen(folder) + 1 + wcslen(entry.name) >= PATH_CAPACITY) {
      whole = 0;
      continue;
    }
    JoinPath(path, folder, entry.name);
    if (entry.attributes & ATTRIBUTE_LINK) {
      whole = 0;
    } else if (entry.attributes & ATTRIBUTE_FOLDER) {
      if (depth == 0 || !RemoveTree(path, depth - 1, bytes)) whole = 0;
    } else if (DeleteOneFile(path)) {
      *bytes += entry.size;
    } else {
      whole = 0;
    }
  }
  EndFolderWalk(&walk);
  return whole && RemoveEmptyFolder(folder);
}

// Finishes the removal of a folder whose name has the removing form.
static void FinishRemoval(const wchar_t* path, PruneResult* result) {
  if (RemoveTree(path, kTreeDepth, &result->bytes)) ++result->folders;
}

// Renames a run folder to its removing name, then removes it. A folder
// that cannot be renamed (held, or the new name taken) is left as it is.
static void RemoveRunFolder(const wchar_t* work_folder, const wchar_t* name, PruneResult* result) {
  wchar_t path[PATH_CAPACITY];
  wchar_t removing[PATH_CAPACITY];
  // A removing name cut short would have neither form: the folder would
  // never be finished nor counted again.
  if (wcslen(work_folder) + 1 + wcslen(name) + kRemovingSuffixLength >= PATH_CAPACITY) return;
  JoinPath(path, work_folder, name);
  FormatInto(removing, L"%ls%ls", path, kRemovingSuffix);
  if (!MoveToNewPlace(path, removing)) return;
  FinishRemoval(removing, result);
}

// What one walk over the work folder found of its run folders.
struct RunCensus {
  uint32_t count;                      // run folders other than the current one, newer than after
  RunKey oldest;                       // the oldest of them
  wchar_t oldest_name[NAME_CAPACITY];  // its name; empty when count is 0
};

// Walks the work folder once: counts the run folders other than current
// that are newer than after (all when after is null), and finds the oldest
// of them. 0 when the folder cannot be listed.
static int TakeCensus(const wchar_t* work_folder, const wchar_t* current_name, const RunKey* after,
                      RunCensus* census) {
  census->count = 0;
  census->oldest_name[0] = L'\0';
  FolderWalk walk;
  int listed = BeginFolderWalk(work_folder, &walk);
  FolderEntry entry;
  while (listed && NextFolderEntry(&walk, &entry)) {
    RunKey key;
    if (!IsPlainFolder(entry.attributes)) continue;
    if (!ParseRunName(entry.name, wcslen(entry.name), &key)) continue;
    if (wcscmp(entry.name, current_name) == 0) continue;
    if (after != nullptr && !KeyBefore(*after, key)) continue;
    if (census->count == 0 || KeyBefore(key, census->oldest)) {
      census->oldest = key;
      CopyInto(census->oldest_name, entry.name);
    }
    ++census->count;
  }
  EndFolderWalk(&walk);
  return listed;
}

// Removes every folder of the removing form that an earlier run left.
// Each walk removes at most one, since the walk's listing may not survive
// a removal; a folder that stays is passed over by name order.
static void FinishEarlierRemovals(const wchar_t* work_folder, PruneResult* result) {
  wchar_t done_up_to[NAME_CAPACITY] = L"";
  for (;;) {
    wchar_t next[NAME_CAPACITY] = L"";
    FolderWalk walk;
    int listed = BeginFolderWalk(work_folder, &walk);
    FolderEntry entry;
    while (listed && NextFolderEntry(&walk, &entry)) {
      if (!IsPlainFolder(entry.attributes) || !HasRemovingFolderForm(entry.name)) continue;
      if (wcscmp(entry.name, done_up_to) <= 0) continue;
      if (next[0] == L'\0' || wcscmp(entry.name, next) < 0) CopyInto(next, entry.name);
    }
    EndFolderWalk(&walk);
    if (next[0] == L'\0') return;
    wchar_t path[PATH_CAPACITY];
    JoinPath(path, work_folder, next);
    FinishRemoval(path, result);
    CopyInto(done_up_to, next);
  }
}

PruneResult PruneRunFolders(const wchar_t* work_folder, const wchar_t* current_name, uint32_t keep) {
  PruneResult result = {0, 0};
  FinishEarlierRemovals(work_folder, &result);
  RunCensus census;
  if (keep == 0 || !TakeCensus(work_folder, current_name, nullptr, &census)) return result;
  // The current folder is one of the keep.
  if (census.count + 1 <= keep) return result;
  uint32_t to_remove = census.count + 1 - keep;
  // Oldest first; each step looks only past the folder tried before, so a
  // folder that stays is not tried again.
  for (uint32_t i = 0; i < to_remove && census.count > 0; ++i) {
    RunKey tried = census.oldest;
    RemoveRunFolder(work_folder, census.oldest_name, &result);
    if (!TakeCensus(work_folder, current_name, &tried, &census)) break;
  }
  return result;
}

void PruneAfterGoodRun() {
  if (config.keep_runs <= 0) return;
  wchar_t work_folder[PATH_CAPACITY];
  JoinPath(work_folder, config.install_dir, L".quenfar8-update");
  const wchar_t* current_name = wcsrchr(config.run_dir, PATH_SEPARATOR_CHAR);
  current_name = current_name != nullptr ? current_name + 1 : config.run_dir;
  PruneResult result = PruneRunFolders(work_folder, current_name, static_cast<uint32_t>(config.keep_runs));
  if (result.folders == 0 && result.bytes == 0) return;
  wchar_t size[32];
  FormatByteSize(size, 32, result.bytes);
  wchar_t line[STATUS_CAPACITY];
  FormatInto(line, L"이전 업데이트 폴더 %u개를 정리해 %ls를 확보했습니다.", static_cast<unsigned>(result.folders), size);
  ReportStatus(line);
}
