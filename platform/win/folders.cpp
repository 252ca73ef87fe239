// Folder listing over kernel32's find functions.
#include "platform/folders.h"

#include <wchar.h>
#include <windows.h>

#include "platform/text.h"

// Room for the search pattern: a folder path of the program's 1024
// characters and "\*".
static const size_t kPatternCapacity = 1026;

static_assert(sizeof(WIN32_FIND_DATAW::cFileName) / sizeof(wchar_t) == FOLDER_NAME_CAPACITY,
              "a walk's name holds every name the find functions return");

// Keeps what the program reads of one found entry in the walk.
static void TakeFoundEntry(FolderWalk* walk, const WIN32_FIND_DATAW* data) {
  wmemcpy(walk->name, data->cFileName, FOLDER_NAME_CAPACITY);
  walk->name[FOLDER_NAME_CAPACITY - 1] = L'\0';
  walk->attributes = data->dwFileAttributes;
  walk->size = (static_cast<uint64_t>(data->nFileSizeHigh) << 32) | data->nFileSizeLow;
}

int BeginFolderWalk(const wchar_t* folder, FolderWalk* walk) {
  walk->first_pending = 0;
  walk->undecodable = 0;
  walk->find = INVALID_HANDLE_VALUE;
  wchar_t pattern[kPatternCapacity];
  // A folder whose pattern would be cut could list another folder.
  if (wcslen(folder) + 2 >= kPatternCapacity) return 0;
  FormatInto(pattern, L"%ls\\*", folder);
  WIN32_FIND_DATAW data;
  walk->find = FindFirstFileW(pattern, &data);
  if (walk->find == INVALID_HANDLE_VALUE) return 0;
  TakeFoundEntry(walk, &data);
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
    } else {
      WIN32_FIND_DATAW data;
      if (!FindNextFileW(walk->find, &data)) return 0;
      TakeFoundEntry(walk, &data);
    }
    if (IsDotEntry(walk->name)) continue;
    entry->name = walk->name;
    entry->attributes = walk->attributes;
    entry->size = walk->size;
    entry->undecodable = 0;
    return 1;
  }
}

void EndFolderWalk(FolderWalk* walk) {
  if (walk->find != INVALID_HANDLE_VALUE) FindClose(walk->find);
  walk->find = INVALID_HANDLE_VALUE;
}
