// Quenfar8Release.exe: the publishers' tool. It packs a client folder into a
// feed, checks a feed the way a player's updater reads it, makes the key
// pairs that sign releases, writes a feed's key record and signs its live
// manifest again with a fresh expiry, and lists, rolls back and prunes a
// feed's release history.
//
// Exit codes: 0 success, 1 refused input or problems found, 2 a command
// line it does not understand.
#include <wchar.h>

#include "platform/dll_search.h"
#include "release/check.h"
#include "release/history_commands.h"
#include "release/key_commands.h"
#include "release/keygen.h"
#include "release/options.h"
#include "release/output.h"
#include "release/pack.h"

// LoadSystemDllsOnly's result, taken by the process's first constructor.
static int g_system_dlls_loaded = 0;

// Runs before every other constructor, the compiler runtime's included:
// the stack protector's set-up opens a cryptographic provider whose DLL
// imports bcrypt.dll by name, and that name must find the copy already
// loaded from the system folder, not one beside the tool.
__attribute__((constructor(101))) static void LoadSystemDllsFirst() {
  g_system_dlls_loaded = LoadSystemDllsOnly();
}

int wmain(int argc, wchar_t** argv) {
  // Before anything can call into winhttp or bcrypt: those two come from
  // the system folder only, never from beside the tool.
  if (!g_system_dlls_loaded) {
    Problem(L"winhttp.dll and bcrypt.dll cannot be loaded from the Windows system folder");
    return 1;
  }
  if (argc < 2) {
    PrintUsage();
    return 2;
  }
  const wchar_t* command = argv[1];
  if (wcscmp(command, L"pack") == 0) {
    PackOptions options;
    if (!ParsePackOptions(argc - 2, argv + 2, &options)) return 2;
    return Pack(options);
  }
  if (wcscmp(command, L"check") == 0) {
    CheckOptions options;
    if (!ParseCheckOptions(argc - 2, argv + 2, &options)) return 2;
    return Check(options);
  }
  if (wcscmp(command, L"keygen") == 0) {
    std::wstring key_file;
    if (!ParseKeygenOptions(argc - 2, argv + 2, &key_file)) return 2;
    return Keygen(key_file);
  }
  if (wcscmp(command, L"keys") == 0) {
    KeysOptions options;
    if (!ParseKeysOptions(argc - 2, argv + 2, &options)) return 2;
    return WriteKeys(options);
  }
  if (wcscmp(command, L"resign") == 0) {
    ResignOptions options;
    if (!ParseResignOptions(argc - 2, argv + 2, &options)) return 2;
    return Resign(options);
  }
  if (wcscmp(command, L"history") == 0) {
    std::wstring feed;
    if (!ParseHistoryOptions(argc - 2, argv + 2, &feed)) return 2;
    return ShowHistory(feed);
  }
  if (wcscmp(command, L"rollback") == 0) {
    RollbackOptions options;
    if (!ParseRollbackOptions(argc - 2, argv + 2, &options)) return 2;
    return Rollback(options);
  }
  if (wcscmp(command, L"prune") == 0) {
    PruneOptions options;
    if (!ParsePruneOptions(argc - 2, argv + 2, &options)) return 2;
    return Prune(options);
  }
  UsageError(L"no command %ls", command);
  PrintUsage();
  return 2;
}
