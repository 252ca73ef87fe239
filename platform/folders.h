// Walking the entries of one folder (FindFirstFileW and FindNextFileW on
// Windows, opendir and readdir on POSIX).
#pragma once

#include <stdint.h>

// One walk over a folder's entries. The handle starts invalid and is
// released by EndFolderWalk on every path.
// Room for one entry's name, terminator included: Windows' MAX_PATH, which
// also holds every POSIX name of up to 255 bytes.
static const int FOLDER_NAME_CAPACITY = 260;

struct FolderWalk {
  void* find;                          // the system's walk, set by BeginFolderWalk even when it fails
  int first_pending;                   // the entry found when the walk began is not yet handed out
  wchar_t name[FOLDER_NAME_CAPACITY];  // the current entry's name
  uint32_t attributes;                 // its attribute bits
  uint64_t size;                       // its byte count
  int undecodable;                     // its name held bytes that are no UTF-8 (POSIX only)
};

// One entry of a folder, "." and ".." never among them.
struct FolderEntry {
  const wchar_t* name;  // points into the walk; valid until the next call
  uint32_t attributes;  // the entry's attribute bits
  uint64_t size;        // byte count of a file
  int undecodable;      // 1 when the name on disk is no valid UTF-8 (it cannot be on Windows);
                        // each such byte then stands in name as one character U+DC80 to U+DCFF
};

// Begins a walk over folder. 0 when the folder cannot be listed (absent,
// not a folder, not accessible); EndFolderWalk is still to be called.
int BeginFolderWalk(const wchar_t* folder, FolderWalk* walk);

// The next entry, or 0 at the end of the folder (or when listing fails).
int NextFolderEntry(FolderWalk* walk, FolderEntry* entry);

void EndFolderWalk(FolderWalk* walk);
