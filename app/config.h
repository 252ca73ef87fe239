// The process-wide settings, fixed at start-up.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Text capacities in characters, terminator included.
constexpr size_t PATH_CAPACITY = 1024;    // every path
constexpr size_t NAME_CAPACITY = 128;     // manifest file names and the launch name
constexpr size_t REMOTE_CAPACITY = 256;   // remote relative paths
constexpr size_t DIGEST_CAPACITY = 65;    // 64 hexadecimal digits and the terminator
constexpr size_t STATUS_CAPACITY = 256;   // formatted status lines

// Longest install folder path, in characters, with which every path the
// program builds under it still fits.
constexpr uint32_t MAX_EXECUTABLE_PATH = 823;

struct Config {
  wchar_t install_dir[PATH_CAPACITY];    // folder of the executable, no trailing backslash
  wchar_t package_dir[PATH_CAPACITY];    // package folder; empty when the feed is the source
  wchar_t feed_url[PATH_CAPACITY];       // "feed" of the INI file, as read
  wchar_t run_dir[PATH_CAPACITY];        // this start's run folder
  wchar_t manifest_path[PATH_CAPACITY];  // the run's copy of manifest.ini
  wchar_t launch_name[NAME_CAPACITY];    // game executable, set by the update run
  int32_t quiet;                         // 1 with /quiet: no window, no message box
  int32_t apply_only;                    // 1 with /apply-only: end after the run
  // Optional keys of the INI file; 0 (key absent or not understood) keeps
  // the plain behaviour.
  int32_t network_resilient;  // 1 with network=resilient: retries, resume, reuse, one connection
  int32_t keep_runs;          // keep_runs=N (1 to 100): run folders left after a good run; 0 keeps all
  int32_t progress_bytes;     // 1 with progress=bytes: the bar runs over the downloaded bytes
  uint32_t ignored_options;   // bit (1 << UpdaterOption) per key whose value was not understood
};

// Written by the main thread before the worker starts, except launch_name,
// which the worker writes and the main thread reads after the run's end.
extern Config config;

// Fills install_dir, package_dir, feed_url, quiet, apply_only and the
// optional keys from the
// executable's path, the command line and Quenfar8Updater.ini, and chooses
// the source of the release. 0 on any failure, which ends the process with
// exit code 2; the message box for an unusable source has been shown then
// (unless quiet).
int LoadConfig();

// Logs one line for each optional key whose value was not understood. Called
// once the log is open, before anything else is reported.
void ReportIgnoredOptions();
