// Walking the entries of one folder (FindFirstFileW and FindNextFileW).
#pragma once

#include <stdint.h>
#include <windows.h>

// One walk over a folder's entries. The handle starts invalid and is
// released by EndFolderWalk on every path.
struct FolderWalk {
  HANDLE find;            // INVALID_HANDLE_VALUE until the walk has begun
  WIN32_FIND_DATAW data;  // the current entry
  int first_pending;      // the entry from FindFirstFileW is not yet handed out
};

// One entry of a folder, "." and ".." never among them.
struct FolderEntry {
  const wchar_t* name;  // points into the walk; valid until the next call
  uint32_t attributes;  // the entry's attribute bits
  uint64_t size;        // byte count of a file
};

// Begins a walk over folder. 0 when the folder cannot be listed (absent,
// not a folder, not accessible); EndFolderWalk is still to be called.
int BeginFolderWalk(const wchar_t* folder, FolderWalk* walk);

// The next entry, or 0 at the end of the folder (or when listing fails).
int NextFolderEntry(FolderWalk* walk, FolderEntry* entry);

void EndFolderWalk(FolderWalk* walk);
