// Folder listing over opendir and readdir.
#include "platform/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/files.h"
#include "platform/posix/attributes.h"
#include "platform/posix/utf8.h"

int BeginFolderWalk(const wchar_t* folder, FolderWalk* walk) {
  walk->first_pending = 0;
  walk->find = nullptr;
  char name[POSIX_PATH_ROOM];
  if (!SystemPath(folder, name)) return 0;
  walk->find = opendir(name);
  return walk->find != nullptr ? 1 : 0;
}

int NextFolderEntry(FolderWalk* walk, FolderEntry* entry) {
  DIR* folder = static_cast<DIR*>(walk->find);
  if (folder == nullptr) return 0;
  for (;;) {
    struct dirent* found = readdir(folder);
    if (found == nullptr) return 0;
    if (strcmp(found->d_name, ".") == 0 || strcmp(found->d_name, "..") == 0) continue;
    // A name of at most 255 bytes always fits FOLDER_NAME_CAPACITY.
    if (!WideFromUtf8Bytes(found->d_name, strlen(found->d_name), walk->name, FOLDER_NAME_CAPACITY,
                           &walk->undecodable)) {
      continue;
    }
    walk->attributes = AttributesAt(dirfd(folder), found->d_name);
    walk->size = 0;
    if (walk->attributes != NO_ATTRIBUTES && !(walk->attributes & (ATTRIBUTE_FOLDER | ATTRIBUTE_LINK))) {
      struct stat info;
      if (fstatat(dirfd(folder), found->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        walk->size = static_cast<uint64_t>(info.st_size);
      }
    }
    entry->name = walk->name;
    entry->attributes = walk->attributes;
    entry->size = walk->size;
    entry->undecodable = walk->undecodable;
    return 1;
  }
}

void EndFolderWalk(FolderWalk* walk) {
  if (walk->find != nullptr) closedir(static_cast<DIR*>(walk->find));
  walk->find = nullptr;
}
