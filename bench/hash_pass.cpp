// One bare pass over every file of a folder: open, read in 64 KiB chunks,
// hash, with the same file and hashing services the updater uses and
// nothing else. The benchmark compares an update run against it.
//   hash_pass <folder>
#include <stdio.h>
#include <wchar.h>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/hashing.h"
#include "platform/text.h"

static int HashOne(const wchar_t* path, uint64_t* bytes) {
  static unsigned char chunk[65536];
  FileHandle file = OpenForHashing(path);
  if (file == NO_FILE) return 0;
  Sha256 sha;
  int ok = Sha256Begin(&sha);
  uint32_t got = 0;
  while (ok && (ok = ReadChunk(file, chunk, sizeof chunk, &got)) && got > 0) {
    *bytes += got;
    ok = Sha256Add(&sha, chunk, got);
  }
  unsigned char digest[32];
  if (ok) ok = Sha256Finish(&sha, digest);
  Sha256End(&sha);
  CloseFile(file);
  return ok;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  FolderWalk walk;
  int ok = BeginFolderWalk(argv[1], &walk);
  if (!ok) {
    EndFolderWalk(&walk);
    return 3;
  }
  int files = 0;
  uint64_t bytes = 0;
  FolderEntry entry;
  while (ok && NextFolderEntry(&walk, &entry)) {
    if (entry.attributes & ATTRIBUTE_FOLDER) continue;
    wchar_t path[1024];
    FormatInto(path, L"%ls\\%ls", argv[1], entry.name);
    ok = HashOne(path, &bytes);
    ++files;
  }
  EndFolderWalk(&walk);
  if (!ok) return 4;
  printf("%d files, %llu bytes\n", files, static_cast<unsigned long long>(bytes));
  return 0;
}
