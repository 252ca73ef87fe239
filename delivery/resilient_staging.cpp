// Reuse, downloads through the partial store, and the plan's byte counts.
#include "delivery/resilient_staging.h"

#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "delivery/partial_store.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "transfer/digest.h"
#include "transfer/ranged_fetch.h"

int ResilientRun() {
  return config.network_resilient && config.package_dir[0] == L'\0';
}

// 1 for a run folder's name: 8 digits, '-', 6 digits, '-', digits.
static int IsRunFolderName(const wchar_t* name) {
  size_t length = wcslen(name);
  if (length < 17) return 0;
  for (size_t i = 0; i < length; ++i) {
    int digit = name[i] >= L'0' && name[i] <= L'9';
    if ((i == 8 || i == 15) ? name[i] != L'-' : !digit) return 0;
  }
  return 1;
}

// Whether some earlier run folder has anything in its new folder; 1 until
// the run's plan has looked, since looking through the folders is always
// safe. Most runs have nothing to reuse, and without it every row would
// look through every run folder that the work folder has collected.
static int earlier_staged_any = 1;

// 1 when folder holds at least one entry.
static int FolderHasEntries(const wchar_t* folder) {
  FolderWalk walk;
  FolderEntry entry;
  int any = BeginFolderWalk(folder, &walk) && NextFolderEntry(&walk, &entry);
  EndFolderWalk(&walk);
  return any;
}

// Advances walk over the work folder to the next earlier run folder (a
// real folder with a run folder's name, not this run's) and writes its path
// to run_folder; 0 at the end of the work folder.
static int NextEarlierRunFolder(FolderWalk* walk, const wchar_t* work_folder, wchar_t* run_folder) {
  FolderEntry entry;
  while (NextFolderEntry(walk, &entry)) {
    if ((entry.attributes & (ATTRIBUTE_FOLDER | ATTRIBUTE_LINK)) != ATTRIBUTE_FOLDER ||
        !IsRunFolderName(entry.name)) {
      continue;
    }
    JoinPath(run_folder, work_folder, entry.name);
    if (wcscmp(run_folder, config.run_dir) != 0) return 1;
  }
  return 0;
}

// 1 when an earlier run folder has an entry in its new folder.
static int AnyEarlierStaged() {
  wchar_t work_folder[PATH_CAPACITY];
  JoinPath(work_folder, config.install_dir, L".quenfar8-update");
  FolderWalk walk;
  wchar_t run_folder[PATH_CAPACITY];
  int any = 0;
  BeginFolderWalk(work_folder, &walk);
  while (!any && NextEarlierRunFolder(&walk, work_folder, run_folder)) {
    wchar_t staged[PATH_CAPACITY];
    JoinPath(staged, run_folder, L"new");
    any = FolderHasEntries(staged);
  }
  EndFolderWalk(&walk);
  return any;
}

// Walks the earlier run folders for new\<row name>; for each candidate of
// the row's size calls take, and stops at the first it accepts. 1 then.
typedef int (*CandidateTaker)(const FileEntry* row, const wchar_t* candidate);

static int WalkCandidates(const FileEntry* row, CandidateTaker take) {
  if (!earlier_staged_any) return 0;
  wchar_t work_folder[PATH_CAPACITY];
  JoinPath(work_folder, config.install_dir, L".quenfar8-update");
  FolderWalk walk;
  wchar_t run_folder[PATH_CAPACITY];
  int taken = 0;
  BeginFolderWalk(work_folder, &walk);
  while (!taken && NextEarlierRunFolder(&walk, work_folder, run_folder)) {
    wchar_t candidate[PATH_CAPACITY];
    FormatInto(candidate, L"%ls" PATH_SEPARATOR L"new" PATH_SEPARATOR L"%ls", run_folder, row->name);
    uint64_t size = 0;
    if (!IsRegularFile(candidate) || !FileSizeFromAttributes(candidate, &size) || size != row->size) continue;
    taken = take(row, candidate);
  }
  EndFolderWalk(&walk);
  return taken;
}

// For the plan: a candidate of the right size counts, unread.
static int AcceptAny(const FileEntry*, const wchar_t*) { return 1; }

// For staging: a candidate of the row's size and digest, moved into this run.
static int TakeVerified(const FileEntry* row, const wchar_t* candidate) {
  return VerifyFile(candidate, row->sha256, row->size) && MoveToNewPlace(candidate, row->new_path);
}

int ReuseEarlierStaged(const FileEntry* row) {
  return WalkCandidates(row, TakeVerified);
}

uint64_t ResilientStagingTotal() {
  earlier_staged_any = AnyEarlierStaged();
  uint64_t total = 0;
  uint64_t to_fetch = 0;
  uint64_t at_hand = 0;
  for (int32_t i = 0; i < entry_count; ++i) {
    const FileEntry* row = &file_table[i];
    if (!row->needs_update) continue;
    if (WalkCandidates(row, AcceptAny)) {
      at_hand += row->source_size;
      to_fetch += row->source_size;
      continue;
    }
    uint64_t held = HeldPartialBytes(row->source, row->source_sha256, row->source_size);
    total += row->source_size - held + (row->via_patch ? row->size : 0);
    to_fetch += row->source_size;
    at_hand += held;
  }
  SetDownloadBytes(at_hand, to_fetch);
  return total;
}

int FetchVerifiedResilient(const FileEntry* row, const wchar_t* destination) {
  int32_t continued = 0;
  if (!FetchThroughStore(row->source, row->source_sha256, row->source_size, destination, &continued)) return 0;
  if (VerifyFile(destination, row->source_sha256, row->source_size)) return 1;
  DeleteOneFile(destination);
  // A complete fresh download with the wrong digest is never fetched again;
  // bytes kept from before may have been another file's.
  if (!continued) return 0;
  DropDownloadBytes(row->source_size);
  if (!FetchThroughStore(row->source, row->source_sha256, row->source_size, destination, &continued)) return 0;
  if (VerifyFile(destination, row->source_sha256, row->source_size)) return 1;
  DeleteOneFile(destination);
  return 0;
}

void EndResilientRun(int succeeded) {
  earlier_staged_any = 1;
  EndFetchConnection();
  if (succeeded) PrunePartialStore();
}
