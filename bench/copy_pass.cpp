// One bare copy of every file of a folder into another: open, read in
// 64 KiB chunks, write, flush, with the same file services the release tool
// uses and nothing else. The pack benchmark compares pack against one
// hashing pass (hash_pass) plus this copy.
//   copy_pass <from folder> <to folder>
#include <stdio.h>
#include <wchar.h>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"

static int CopyOne(const wchar_t* from, const wchar_t* to, uint64_t* bytes) {
  static unsigned char chunk[65536];
  FileHandle source = OpenForHashing(from);
  FileHandle target = CreateNewFile(to);
  int ok = source != NO_FILE && target != NO_FILE;
  uint32_t got = 0;
  while (ok && (ok = ReadChunk(source, chunk, sizeof chunk, &got)) && got > 0) {
    *bytes += got;
    ok = WriteAll(target, chunk, got);
  }
  if (ok) ok = FlushFile(target);
  CloseFile(source);
  CloseFile(target);
  return ok;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  if (!CreateFolder(argv[2])) return 3;
  FolderWalk walk;
  int ok = BeginFolderWalk(argv[1], &walk);
  int files = 0;
  uint64_t bytes = 0;
  FolderEntry entry;
  while (ok && NextFolderEntry(&walk, &entry)) {
    if (entry.attributes & ATTRIBUTE_FOLDER) continue;
    wchar_t from[1024], to[1024];
    FormatInto(from, L"%ls\\%ls", argv[1], entry.name);
    FormatInto(to, L"%ls\\%ls", argv[2], entry.name);
    ok = CopyOne(from, to, &bytes);
    ++files;
  }
  EndFolderWalk(&walk);
  if (!ok) return 4;
  printf("%d files, %llu bytes\n", files, static_cast<unsigned long long>(bytes));
  return 0;
}
