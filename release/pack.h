// The pack command: make or update a feed folder so that it serves a
// client folder as the current release.
#pragma once

#include "release/options.h"

// Returns the process exit code: 0 published (or already published), 1
// refused input or a problem on the way (the feed folder is then as it was).
int Pack(const PackOptions& options);

#include <vector>

#include "release/client_folder.h"
#include "release/patches.h"

// Prints the release's files and bytes and, for every older release, what
// its clients will download (with the patch the updater would choose for
// each of their files) against the whole release.
void PrintSummary(const std::vector<ClientFile>& files, const std::vector<std::vector<MadePatch>>& patches,
                  const std::vector<OlderClient>& olders);
