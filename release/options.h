// The release tool's command lines.
//
//   Quenfar8Release.exe pack <client folder> <feed folder> [--from <older client folder>]...
//       [--diff-tool <exe> [--diff-args "<text>"]] [--patch-tool <hpatchz.exe>] [--version <text>]
//       [--sign <private key file> [--serial <n>] [--expires <days> | --expires-at <YYYY-MM-DDTHH:MM:SSZ>]]
//   Quenfar8Release.exe check <feed folder | https://host/path/> [--client <folder>]
//       [--patch-tool <hpatchz.exe>] [--public-key <128 hexadecimal digits> | --root-key <128 hexadecimal digits>...]
//   Quenfar8Release.exe check --ini <Quenfar8Updater.ini>
//   Quenfar8Release.exe keygen <private key file>
//   Quenfar8Release.exe keys <feed folder> --root-key <root key file> --signing-key <signing key file>
//       [--version <n>] [--expires <days>] [--new-root <new root key file>]
//   Quenfar8Release.exe resign <feed folder> --sign <signing key file>
//       [--expires <days> | --expires-at <YYYY-MM-DDTHH:MM:SSZ>]
//   Quenfar8Release.exe history <feed folder>
//   Quenfar8Release.exe rollback <feed folder> --to <n> [--sign <private key file> [--serial <n>]
//       [--expires <days> | --expires-at <YYYY-MM-DDTHH:MM:SSZ>]]
//   Quenfar8Release.exe prune <feed folder> --keep <n> [--dry-run]
//
// --expires and --expires-at apply to feeds with a key record (keys.ini,
// written by keys): the manifest's expiry, 30 days from now by default.
//
// Every folder and program is turned into a full path against the current
// folder. A command line that breaks these forms is a usage error (exit 2).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The manifest expiry asked for with --expires <days> or --expires-at
// <time>; at most one of them.
struct ExpiryOption {
  uint32_t days = 0;  // days from now, 0 when not given
  int at_given = 0;   // 1 when --expires-at was given
  uint64_t at = 0;    // its time in seconds since 1970
};

// Most days an expiry may lie ahead: ten years.
constexpr uint32_t MAX_EXPIRY_DAYS = 3650;

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
  ExpiryOption expiry;               // the manifest's expiry, on a feed with a key record
};

struct CheckOptions {
  std::wstring feed;        // a feed folder (full path) or an https:// feed address
  int over_https = 0;       // 1 when feed is an address
  std::wstring client;      // when set, the plan for this install folder is shown
  std::wstring patch_tool;  // when set, patches whose base is at hand are applied
  std::string public_key;   // when set, the signature is checked with this key (128 digits)
  std::vector<std::string> root_keys;  // when set, keys.ini and the manifest are checked with these roots
  std::wstring ini;         // with --ini: the updater's INI file to lint, and no feed
  std::wstring ca_file;     // with an https:// feed: the only CA certificates trusted (PEM)
};

struct RollbackOptions {
  std::wstring feed;      // the feed folder
  uint32_t to = 0;        // the history entry to make live again
  std::wstring sign_key;  // the private key file, for a signed feed
  uint64_t serial = 0;    // the serial asked for; 0: one more than the feed's
  ExpiryOption expiry;    // the manifest's expiry, on a feed with a key record
};

struct KeysOptions {
  std::wstring feed;         // the feed folder that gets keys.ini
  std::wstring root_key;     // the root's private key file, which signs the record
  std::wstring signing_key;  // the private key file whose public key the record names
  std::wstring new_root;     // when set, the root that the record hands over to
  uint64_t version = 0;      // the key version asked for; 0: one more than the record's
  uint32_t expires_days = 0; // days until the record expires; 0: the default
};

struct ResignOptions {
  std::wstring feed;      // the feed folder
  std::wstring sign_key;  // the record's signing key
  ExpiryOption expiry;    // the manifest's new expiry
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
int ParseKeysOptions(int count, wchar_t** arguments, KeysOptions* options);
int ParseResignOptions(int count, wchar_t** arguments, ResignOptions* options);

// Prints the usage text to the standard error stream.
void PrintUsage();
