// File checks and patch choice: the plan of the update run.
#pragma once

#include <stdint.h>

// Examines the installed file of row n, hashes it and plans it as current,
// whole file or smallest matching patch; adds what staging will write to
// *staging_total. full and patch_count come from ReadFileEntry. On 0 the
// message has been reported.
int PlanFileEntry(int32_t n, const wchar_t* full, uint32_t patch_count, uint64_t* staging_total);

// 1 when the volume of the install folder has the staging total plus 16 MiB
// free for this user. On 0 the message has been reported.
int CheckDiskSpace(uint64_t staging_total);
