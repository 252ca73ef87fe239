// File checks and patch choice: the plan of the update run.
#pragma once

#include <stdint.h>

#include "app/config.h"

// One [patch.N.M] section as read.
struct PatchSection {
  wchar_t base_sha256[DIGEST_CAPACITY];  // digest of the installed file it applies to
  wchar_t sha256[DIGEST_CAPACITY];       // digest of the patch file itself
  wchar_t path[REMOTE_CAPACITY];         // remote path of the patch file
  uint64_t size;                         // byte count of the patch file
};

// Room a run needs beyond what it stages: the log, the manifest copy and
// the file system's own bookkeeping (16 MiB).
extern const uint64_t SPARE_BYTES;

// A patch section's "size": a number from 1 to 2^40. Silent.
int ReadPatchSize(const wchar_t* section, uint64_t* size);

// What a [patch.N.M] section that breaks its rules reports.
extern const wchar_t BAD_PATCH_MESSAGE[];

// Examines the installed file of row n, hashes it and plans it as current,
// whole file or smallest matching patch; adds what staging will write to
// *staging_total. full and patch_count come from ReadFileEntry. On 0 the
// message has been reported.
int PlanFileEntry(int32_t n, const wchar_t* full, uint32_t patch_count, uint64_t* staging_total);

// 1 when the volume of the install folder has the staging total plus 16 MiB
// free for this user. On 0 the message has been reported.
int CheckDiskSpace(uint64_t staging_total);

// Reads [patch.n.m] and validates it: both digests, a size from 1 to 2^40
// and a remote path. On 0 the message has been reported.
int ReadValidPatchSection(int32_t n, uint32_t m, PatchSection* patch);

// The patch choice: 1 when patch applies to exactly the installed copy
// whose digest is local_sha256 and is smaller than chosen_size, the size of
// what would be fetched without it. Taking each patch that beats the
// choice so far, in order, leaves the smallest with the lowest number.
int PatchBeats(const PatchSection* patch, const wchar_t* local_sha256, uint64_t chosen_size);
