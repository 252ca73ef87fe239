// The partial store of network=resilient: downloads that broke off (a
// failure, a killed process, a machine switched off) keep what they
// received in .quenfar8-update\partial\<sha256>, with a small record
// beside it (<sha256>.rec: remote path, size, the server's validator and
// when the download began), so that the next attempt, in this run or a
// later one, asks only for the rest.
#pragma once

#include <stdint.h>

// Bytes the store holds of the file of digest sha256 that a fetch of
// remote_path (size bytes) would go on from: 0 when there is no entry or
// it would be discarded (its record does not match, it is larger than
// size, or older than a few days). Changes nothing.
uint64_t HeldPartialBytes(const wchar_t* remote_path, const wchar_t* sha256, uint64_t size);

// Brings the file of digest sha256 (size bytes at remote_path below the
// feed) into destination, which must not exist: continues the store's
// entry when it is sound (discards it otherwise), fetches the rest
// resiliently, then moves the complete file to destination and removes
// the record. The content is not checked: the caller verifies it.
// *continued is 1 when bytes held before the call were kept and completed
// rather than fetched now (a wrong digest then deserves one whole fetch).
// On 0 one status line has been reported and the store keeps what arrived.
int FetchThroughStore(const wchar_t* remote_path, const wchar_t* sha256, uint64_t size, const wchar_t* destination,
                      int32_t* continued);

// Removes every entry of the store whose digest the run's manifest does
// not name (as a file or as a patch). Failures are left for a later run.
void PrunePartialStore();
