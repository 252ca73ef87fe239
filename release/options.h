// The release tool's command lines.
//
//   Quenfar8Release.exe pack <client folder> <feed folder> [--from <older client folder>]...
//       [--diff-tool <exe> [--diff-args "<text>"]] [--patch-tool <hpatchz.exe>] [--version <text>]
//       [--sign <private key file> [--serial <n>]]
//   Quenfar8Release.exe check <feed folder | https://host/path/> [--client <folder>]
//       [--patch-tool <hpatchz.exe>] [--public-key <128 hexadecimal digits>]
//   Quenfar8Release.exe check --ini <Quenfar8Updater.ini>
//   Quenfar8Release.exe keygen <private key file>
//   Quenfar8Release.exe history <feed folder>
//   Quenfar8Release.exe rollback <feed folder> --to <n> [--sign <private key file> [--serial <n>]]
//   Quenfar8Release.exe prune <feed folder> --keep <n> [--dry-run]
//
// Every folder and program is turned into a full path against the current
// folder. A command line that breaks these forms is a usage error (exit 2).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct PackOptions {
  std::wstring client;               // the client folder to publish
  std::wstring feed;                 // the feed folder to make or update
  std::vector<std::wstring> from;    // older client folders that get patches, first ones first
  std::wstring diff_tool;            // makes patches; needed with --from
  std::wstring diff_args;            // put before the diff tool's three paths, as written
  std::wstring patch_tool;           // when set, every new patch is applied once and checked
  std::wstring version;              // the manifest's "version", empty for none
  std::wstring sign_key;             // the private key file that signs, empty for an unsigned feed
  uint64_t serial = 0;               // the serial asked for; 0: one more than the feed's
};

struct CheckOptions {
  std::wstring feed;        // a feed folder (full path) or an https:// feed address
  int over_https = 0;       // 1 when feed is an address
  std::wstring client;      // when set, the plan for this install folder is shown
  std::wstring patch_tool;  // when set, patches whose base is at hand are applied
  std::string public_key;   // when set, the signature is checked with this key (128 digits)
  std::wstring ini;         // with --ini: the updater's INI file to lint, and no feed
};

struct RollbackOptions {
  std::wstring feed;      // the feed folder
  uint32_t to = 0;        // the history entry to make live again
  std::wstring sign_key;  // the private key file, for a signed feed
  uint64_t serial = 0;    // the serial asked for; 0: one more than the feed's
};

struct PruneOptions {
  std::wstring feed;   // the feed folder
  uint32_t keep = 0;   // the newest history entries whose blobs stay
  int dry_run = 0;     // only say what would be removed
};

// Parse the arguments after the command word. 0 after a usage error has
// been printed.
int ParsePackOptions(int count, wchar_t** arguments, PackOptions* options);
int ParseCheckOptions(int count, wchar_t** arguments, CheckOptions* options);
int ParseKeygenOptions(int count, wchar_t** arguments, std::wstring* key_file);
int ParseHistoryOptions(int count, wchar_t** arguments, std::wstring* feed);
int ParseRollbackOptions(int count, wchar_t** arguments, RollbackOptions* options);
int ParsePruneOptions(int count, wchar_t** arguments, PruneOptions* options);

// Prints the usage text to the standard error stream.
void PrintUsage();
