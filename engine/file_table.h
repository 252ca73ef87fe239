// The file table: one row per manifest file, in manifest order.
#pragma once

#include <stdint.h>

#include "app/config.h"

constexpr int MAX_FILES = 128;  // most [file.N] sections a manifest may have

struct FileEntry {
  wchar_t name[NAME_CAPACITY];             // file name inside the install folder
  wchar_t sha256[DIGEST_CAPACITY];         // expected digest of the final file
  wchar_t local_sha256[DIGEST_CAPACITY];   // digest of the installed file at check time; empty if absent
  wchar_t source[REMOTE_CAPACITY];         // remote path to fetch: the whole file or the chosen patch
  wchar_t source_sha256[DIGEST_CAPACITY];  // expected digest of what is fetched
  wchar_t target_path[PATH_CAPACITY];      // the installed file
  wchar_t new_path[PATH_CAPACITY];         // the staged file in the run folder
  wchar_t backup_path[PATH_CAPACITY];      // where the replaced file goes
  uint64_t size;                           // expected byte count of the final file
  uint64_t source_size;                    // byte count of what is fetched
  int32_t needs_update;                    // the installed file must be replaced
  int32_t existed;                         // something was at target_path at check time
  int32_t via_patch;                       // source is a patch against the installed file
  int32_t applied;                         // the staged file has been put in place
};

// All zero at process start; the run fills rows 0 to entry_count - 1 once.
extern FileEntry file_table[MAX_FILES];

// Number of used rows: the manifest's "count".
extern int32_t entry_count;
