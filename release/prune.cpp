// Removing what no kept release needs, in order: refuse unless the history
// is whole and its newest entry is the live manifest and no pack is
// running; gather the remote paths the live manifest and the newest n
// entries name (names only: the one thing that grows with the feed); walk
// files\ and patches\ and remove every blob none of them names; remove the
// work folders that interrupted packs left. A blob a kept release names is
// never touched: only names outside that set are ever deleted.
#include "release/history_commands.h"

#include <wchar.h>

#include <set>
#include <vector>

#include "platform/paths.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "release/blob_store.h"
#include "release/feed_history.h"
#include "release/output.h"

namespace {

// A blob to remove: its remote path and size.
struct Removal {
  std::wstring remote;
  uint64_t size;
};

// Totals of the walk.
struct Tally {
  uint64_t kept = 0, kept_bytes = 0;        // blobs a kept release names
  uint64_t removed = 0, removed_bytes = 0;  // blobs removed (or to be removed)
  uint64_t left = 0;                        // entries left alone: no blob, or not removable
};

// Refusals that leave the feed untouched: the history must be whole, its
// newest entry live, and no other run of the tool at work on the feed.
// *count gets the number of entries.
int MayPrune(const PruneOptions& options, uint32_t* count) {
  if (options.keep < 1) {
    Problem(L"--keep %u: at least the newest release must keep its blobs", options.keep);
    return 0;
  }
  if (!CountHistory(options.feed, count)) return 0;
  if (*count == 0) {
    Problem(L"%ls: the history is empty", HistoryFolder(options.feed).c_str());
    return 0;
  }
  std::string live = ReadSmallFile(options.feed + PATH_SEPARATOR L"manifest.ini");
  // A manifest that resign signed again is its entry's release still.
  if (live.empty() || !SameRelease(live, ReadSmallFile(HistoryEntryPath(options.feed, *count)))) {
    Problem(L"manifest.ini is not the newest history entry (%u): it was changed by hand, or a pack or rollback "
            L"stopped before it published; publish with pack or rollback first",
            *count);
    return 0;
  }
  int ok = 1;
  FolderWalk walk;
  if (BeginFolderWalk(options.feed.c_str(), &walk)) {
    FolderEntry entry;
    while (NextFolderEntry(&walk, &entry)) {
      if (wcsncmp(entry.name, WORK_FOLDER_PREFIX, wcslen(WORK_FOLDER_PREFIX)) != 0) continue;
      if (WorkFolderInUse(options.feed + PATH_SEPARATOR + entry.name)) {
        Problem(L"%ls" PATH_SEPARATOR L"%ls: a pack or rollback is at work on this feed; prune when it has ended",
                options.feed.c_str(), entry.name);
        ok = 0;
      }
    }
  }
  EndFolderWalk(&walk);
  return ok;
}

// 1 for an entry of the feed folder that is a real folder: a link or
// junction is never listed through or emptied, since that would reach its
// target.
int IsPlainFolder(uint32_t attributes) {
  return (attributes & (ATTRIBUTE_FOLDER | ATTRIBUTE_LINK)) == ATTRIBUTE_FOLDER;
}

// The keys (BlobKey) of the remote paths that the newest keep entries name
// (the newest is the live manifest). 0 after a problem: an entry that
// cannot be read.
int KeptNames(const PruneOptions& options, uint32_t count, std::set<std::wstring>* kept) {
  uint32_t oldest = count > options.keep ? count - options.keep + 1 : 1;
  for (uint32_t n = oldest; n <= count; ++n) {
    ReleaseRecord release;
    std::wstring why;
    if (!ReadRelease(HistoryEntryPath(options.feed, n), &release, &why)) {
      Problem(L"%ls: %ls", HistoryEntryPath(options.feed, n).c_str(), why.c_str());
      return 0;
    }
    for (const NamedBlob& blob : release.blobs) kept->insert(BlobKey(blob.remote));
  }
  return 1;
}

// Walks files\ or patches\: counts what is kept, gathers what is not, and
// reports what is no blob at all.
void WalkStore(const PruneOptions& options, const wchar_t* kind, const std::set<std::wstring>& kept,
               std::vector<Removal>* removals, Tally* tally) {
  std::wstring folder = options.feed + PATH_SEPARATOR + kind;
  FolderWalk walk;
  if (!BeginFolderWalk(folder.c_str(), &walk)) {
    EndFolderWalk(&walk);
    return;
  }
  FolderEntry entry;
  while (NextFolderEntry(&walk, &entry)) {
    std::wstring remote = std::wstring(kind) + L"/" + entry.name;
    if ((entry.attributes & ATTRIBUTE_FOLDER) || !IsDigestName(entry.name)) {
      // Never a blob pack wrote; on a file system that ignores case an
      // upper-case name may even be a kept blob itself.
      Note(L"%ls: no blob name; left alone", remote.c_str());
      ++tally->left;
    } else if (kept.count(BlobKey(remote)) != 0) {
      ++tally->kept;
      tally->kept_bytes += entry.size;
    } else {
      removals->push_back({remote, entry.size});
    }
  }
  EndFolderWalk(&walk);
}

// Removes (or, in a dry run, names) the gathered blobs.
void RemoveBlobs(const PruneOptions& options, const std::vector<Removal>& removals, Tally* tally) {
  for (const Removal& removal : removals) {
    std::wstring path = options.feed + PATH_SEPARATOR + removal.remote;
    for (wchar_t& c : path) {
      if (c == L'/') c = PATH_SEPARATOR_CHAR;
    }
    if (options.dry_run) {
      Say(L"would remove %ls (%llu bytes)", removal.remote.c_str(), static_cast<unsigned long long>(removal.size));
    } else if (!DeleteOneFile(path.c_str())) {
      Problem(L"%ls: cannot be removed (held open by another program?); left", removal.remote.c_str());
      ++tally->left;
      continue;
    } else {
      Say(L"removed %ls (%llu bytes)", removal.remote.c_str(), static_cast<unsigned long long>(removal.size));
    }
    ++tally->removed;
    tally->removed_bytes += removal.size;
  }
}

// Removes (or names) the work folders of interrupted packs.
void RemoveLeftWorkFolders(const PruneOptions& options) {
  std::vector<std::wstring> folders;
  FolderWalk walk;
  if (BeginFolderWalk(options.feed.c_str(), &walk)) {
    FolderEntry entry;
    while (NextFolderEntry(&walk, &entry)) {
      if (wcsncmp(entry.name, WORK_FOLDER_PREFIX, wcslen(WORK_FOLDER_PREFIX)) != 0) continue;
      if (!IsPlainFolder(entry.attributes)) {
        Note(L"%ls: no work folder (a file or a link); left alone", entry.name);
        continue;
      }
      folders.push_back(entry.name);
    }
  }
  EndFolderWalk(&walk);
  for (const std::wstring& name : folders) {
    std::wstring folder = options.feed + PATH_SEPARATOR + name;
    if (WorkFolderInUse(folder)) {
      Note(L"%ls: a pack is using it; left", name.c_str());
    } else if (options.dry_run) {
      Say(L"would remove %ls (left by an interrupted pack)", name.c_str());
    } else if (RemoveWorkFolder(folder)) {
      Say(L"removed %ls (left by an interrupted pack)", name.c_str());
    } else {
      Problem(L"%ls: cannot be removed completely; left", name.c_str());
    }
  }
}

}  // namespace

int Prune(const PruneOptions& options) {
  uint32_t count = 0;
  if (!MayPrune(options, &count)) {
    Say(L"nothing was removed");
    return 1;
  }
  std::set<std::wstring> kept;
  if (!KeptNames(options, count, &kept)) {
    Say(L"nothing was removed");
    return 1;
  }
  uint32_t oldest = count > options.keep ? count - options.keep + 1 : 1;
  Say(L"%ls: keeping the blobs of history entries %u to %u (the newest is live)", options.feed.c_str(), oldest,
      count);
  Tally tally;
  std::vector<Removal> removals;
  WalkStore(options, L"files", kept, &removals, &tally);
  WalkStore(options, L"patches", kept, &removals, &tally);
  RemoveBlobs(options, removals, &tally);
  RemoveLeftWorkFolders(options);
  Say(L"kept: %llu blobs, %ls (%llu bytes)", static_cast<unsigned long long>(tally.kept),
      Bytes(tally.kept_bytes).c_str(), static_cast<unsigned long long>(tally.kept_bytes));
  Say(L"%ls: %llu blobs, %ls (%llu bytes)%ls", options.dry_run ? L"would remove" : L"removed",
      static_cast<unsigned long long>(tally.removed), Bytes(tally.removed_bytes).c_str(),
      static_cast<unsigned long long>(tally.removed_bytes), options.dry_run ? L"; nothing was removed" : L"");
  if (!options.dry_run) {
    Say(L"freed: %ls (%llu bytes)", Bytes(tally.removed_bytes).c_str(),
        static_cast<unsigned long long>(tally.removed_bytes));
  }
  if (tally.left != 0) Say(L"left alone: %llu entries", static_cast<unsigned long long>(tally.left));
  return ProblemCount() == 0 ? 0 : 1;
}
