// The check command: would a player's updater accept this feed?
#pragma once

#include "release/options.h"

// Returns the process exit code: 0 no problem found, 1 problems found (each
// printed), 2 an address that is no feed address.
int Check(const CheckOptions& options);
