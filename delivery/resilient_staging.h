// What network=resilient changes in a run: verified files of an earlier
// failed run are taken over instead of fetched, downloads go through the
// partial store over the one connection, the free-space check counts only
// what is still to come, and a good run prunes the store.
#pragma once

#include <stdint.h>

#include "engine/file_table.h"

// 1 when the run fetches over HTTPS in resilient mode.
int ResilientRun();

// The bytes staging still has to write for the rows that need an update:
// for each, what is still to be fetched (the part the partial store does
// not hold; nothing when an earlier run's staged copy of the right size
// waits) plus the rebuilt file of a patch. Tells the byte progress the
// total to fetch and what is at hand. Changes nothing on disk. Also notes
// whether any earlier run folder has staged files at all, so that rows
// look for them only then; runs call it before staging.
uint64_t ResilientStagingTotal();

// Takes over row's final file from an earlier run folder's new\: 1 when
// one of the row's size and digest was found there and moved to the row's
// new_path. A copy that fails the check stays where it is.
int ReuseEarlierStaged(const FileEntry* row);

// Fetches what row needs (its whole file or its patch) through the partial
// store into destination and checks it by size and digest. A file that
// was continued from bytes held before and then fails the check is
// fetched whole once more. 1 when destination holds the verified file; on
// 0 nothing is left there and the failure has been reported (the caller
// adds the download-check line).
int FetchVerifiedResilient(const FileEntry* row, const wchar_t* destination);

// The end of a resilient run: closes the connection; after a good run
// also prunes the partial store.
void EndResilientRun(int succeeded);
