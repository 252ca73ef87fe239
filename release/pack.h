// The pack command: make or update a feed folder so that it serves a
// client folder as the current release.
#pragma once

#include "release/options.h"

// Returns the process exit code: 0 published (or already published), 1
// refused input or a problem on the way (the feed folder is then as it was).
int Pack(const PackOptions& options);
