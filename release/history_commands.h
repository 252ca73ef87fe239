// The commands over a feed's release history: list it, make an older
// release live again, and remove the blobs no kept release names. Each
// returns the process exit code: 0 done, 1 refused or a problem on the way.
#pragma once

#include <string>

#include "release/options.h"

// history <feed>: every entry with its number, version, serial when signed,
// files, bytes and new bytes against the entry before, and which is live.
int ShowHistory(const std::wstring& feed);

// rollback <feed> --to <n>: history entry n becomes manifest.ini again (a
// signed feed gets the same release under a higher serial, signed again),
// published as pack publishes and recorded as a new entry.
int Rollback(const RollbackOptions& options);

// prune <feed> --keep <n>: removes every blob in files\ and patches\ that
// neither manifest.ini nor the newest n entries name, and the work folders
// that interrupted packs left.
int Prune(const PruneOptions& options);
