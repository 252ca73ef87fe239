// The commands of a feed with a key record: write the record, and sign the
// live manifest again with a fresh expiry. Each returns the process exit
// code: 0 done, 1 refused or a problem on the way (the feed is then as it
// was).
#pragma once

#include "release/options.h"

// keys <feed> --root-key <file> --signing-key <file> [--version <n>]
// [--expires <days>] [--new-root <file>]: writes keys.ini, signed by the
// root (or, with --new-root, handed over to the new root and signed by it).
int WriteKeys(const KeysOptions& options);

// resign <feed> --sign <file> [--expires <days> | --expires-at <time>]: the
// live release again under the next serial, with new signed and expires
// times and a new signature; nothing else in the manifest changes.
int Resign(const ResignOptions& options);
