// Folder listing over kernel32's find functions.
#include "platform/folders.h"

#include <wchar.h>

#include "platform/text.h"

// Room for the search pattern: a folder path of the program's 1024
// characters and "\*".
static const size_t kPatternCapacity = 1026;

int BeginFolderWalk(const wchar_t* folder, FolderWalk* walk) {
  walk->first_pending = 0;
  wchar_t pattern[kPatternCapacity];
  // A folder whose pattern would be cut could list another folder.
  if (wcslen(folder) + 2 >= kPatternCapacity) {
    walk->find = INVALID_HANDLE_VALUE;
    return 0;
  }
  FormatInto(pattern, L"%ls\\*", folder);
  walk->find = FindFirstFileW(pattern, &walk->data);
  if (walk->find == INVALID_HANDLE_VALUE) return 0;
  walk->first_pending = 1;
  return 1;
}

static int IsDotEntry(const wchar_t* name) {
  return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

int NextFolderEntry(FolderWalk* walk, FolderEntry* entry) {
  if (walk->find == INVALID_HANDLE_VALUE) return 0;
  for (;;) {
    if (walk->first_pending) {
      walk->first_pending = 0;
    } else if (!FindNextFileW(walk->find, &walk->data)) {
      return 0;
    }
    if (IsDotEntry(walk->data.cFileName)) continue;
    entry->name = walk->data.cFileName;
    entry->attributes = walk->data.dwFileAttributes;
    entry->size = (static_cast<uint64_t>(walk->data.nFileSizeHigh) << 32) | walk->data.nFileSizeLow;
    return 1;
  }
}

void EndFolderWalk(FolderWalk* walk) {
  if (walk->find != INVALID_HANDLE_VALUE) FindClose(walk->find);
  walk->find = INVALID_HANDLE_VALUE;
}
