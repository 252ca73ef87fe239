// Commit with rollback and the final verification: the only phase that
// changes files in the install folder.
#pragma once

#include <stdint.h>

// 1 when every installed file is still what the checks saw, no file to be
// replaced is held by another program, nothing appeared where a file is to
// be added, and every staged file still has its expected size and digest.
// On 0 the message has been reported.
int RecheckInstalled();

// Puts every staged file in place, in table order, keeping backups. At the
// first failure it rolls back and returns 0.
int CommitFiles();

// Undoes the failed row f as far as possible, then every earlier applied row,
// newest first, and reports how the rollback ended.
void RollBack(int32_t f);

// 1 when every listed file is a regular file of its size and digest. On 0
// the message has been reported; nothing is rolled back.
int VerifyInstalled();
