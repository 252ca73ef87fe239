// Resilient downloads: one connection for all requests of a process,
// transient failures tried again after a wait, files of any size fetched
// in ranges that each stay below 2 GiB, and a download that goes on where
// an earlier one stopped.
//
// Both programs use it: the updater with network=resilient (through the
// partial store), and the release tool for blobs of any size.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Capacity of a validator (a strong ETag or a Last-Modified date), with its
// terminator.
constexpr size_t VALIDATOR_CAPACITY = 128;

// Most bytes asked for in one request. Wine's WinHTTP ends a body cleanly
// after 2,147,483,647 bytes, so every range stays well below 2 GiB.
constexpr uint64_t RANGE_BYTES = 1073741824;

// Attempts per file (or manifest) while no new byte arrives.
constexpr uint32_t ATTEMPTS_PER_FILE = 5;

// Told once whenever a download starts again from byte 0 (a fresh file, or
// a server that answered a range with the whole file), before the first
// byte is written, with the validator of what the server sends (empty when
// it sent none that is strong). Returns 0 to give the download up.
typedef int (*FreshStartSink)(void* context, const wchar_t* validator);

// One remote file on its way into a local file.
struct RangedFile {
  const wchar_t* remote_path;             // below the feed address
  uint64_t size;                          // exactly this many bytes
  const wchar_t* part_path;               // the local file: the first bytes fetched so far, or absent
  wchar_t validator[VALIDATOR_CAPACITY];  // of the bytes at part_path; empty: none known
  FreshStartSink on_fresh_start;          // null: nobody to tell
  void* context;                          // handed to on_fresh_start
  uint64_t fetched;                       // out: body bytes received by this call
  int32_t restarted;                      // out: 1 when bytes held before the call were dropped
};

// Brings part_path to exactly file->size bytes of file->remote_path below
// the feed address: asks only for what part_path does not hold yet
// ("Range: bytes=<have>-", with "If-Range" when a validator is known), in
// ranges of at most RANGE_BYTES, and takes a 206 only when its
// Content-Range starts at <have>, ends where asked and totals the size. A
// 200 starts the file again from byte 0 with that body; a 416 for a file
// already complete needs nothing more; any other surprise drops the bytes
// held and fetches the file whole once, never in a loop. Transient
// failures (no connection, reset, cut or stalled body, 408, 429, 500,
// 502, 503, 504) are tried again up to ATTEMPTS_PER_FILE times in a row
// without new bytes, after 1 s, then doubling up to 30 s, with jitter and
// at least a Retry-After of up to 60 s, each wait reported in one status
// line; the process has a budget of such fruitless retries. Never tried
// again: other statuses, a refused certificate, a body longer than asked.
// 1 when part_path holds exactly size bytes (their digest is the caller's
// business); on 0 one status line has said the download failed, and
// part_path keeps every byte received that a later call can go on from.
int FetchRemainder(RangedFile* file);

// Fetches remote_path below the feed, exactly size bytes, resiliently and
// in ranges as FetchRemainder does, into destination, which must not
// exist. On 0 one status line has been reported and nothing is left at
// destination. The release tool checks blobs of any size so.
int FetchExactly(const wchar_t* remote_path, uint64_t size, const wchar_t* destination);

// FetchFile's resilient form for a file of unknown size of at most limit
// bytes (the manifest): one whole GET per attempt, tried again as above.
// destination must not exist; on 0 nothing is left there.
int FetchSmallResilient(const wchar_t* remote_path, const wchar_t* destination, uint64_t limit);

// Closes the process's one connection; the next request opens a new one.
void EndFetchConnection();

