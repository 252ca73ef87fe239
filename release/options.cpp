// Parsing the release tool's command lines.
#include "release/options.h"

#include <wchar.h>

#include "app/config.h"
#include "engine/key_record.h"
#include "engine/manifest.h"
#include "engine/release_time.h"
#include "engine/signature.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "release/feed_history.h"
#include "release/output.h"

// A folder or program named on the command line, as a full path.
static int FullPath(const wchar_t* given, std::wstring* out) {
  wchar_t full[PATH_CAPACITY];
  if (given[0] == L'\0' || !ResolveFullPath(given, full, PATH_CAPACITY)) {
    UsageError(L"cannot use the path \"%ls\"", given);
    return 0;
  }
  // A trailing backslash (as in "feed\") would double in every joined path.
  size_t length = wcslen(full);
  if (length > 3 && full[length - 1] == PATH_SEPARATOR_CHAR) full[length - 1] = L'\0';
  *out = full;
  return 1;
}

// The value after an option: 0 when the command line ends first.
static int TakeValue(int count, wchar_t** arguments, int* i, const wchar_t** value) {
  if (*i + 1 >= count) {
    UsageError(L"%ls needs a value", arguments[*i]);
    return 0;
  }
  *i += 1;
  *value = arguments[*i];
  return 1;
}

// A single-valued option given once at most.
static int TakeOnce(int count, wchar_t** arguments, int* i, std::wstring* out, int as_path) {
  const wchar_t* option = arguments[*i];
  if (!out->empty()) {
    UsageError(L"%ls is given twice", option);
    return 0;
  }
  const wchar_t* value = nullptr;
  if (!TakeValue(count, arguments, i, &value)) return 0;
  if (as_path) return FullPath(value, out);
  if (value[0] == L'\0') {
    UsageError(L"%ls needs a value", option);
    return 0;
  }
  *out = value;
  return 1;
}

static int IsOption(const wchar_t* argument) {
  return argument[0] == L'-' && argument[1] == L'-';
}

// A number of days from 1 to MAX_EXPIRY_DAYS given with option.
static int TakeDays(const wchar_t* option, const wchar_t* text, uint32_t* days) {
  uint64_t value = 0;
  if (!ParseManifestNumber(text, &value) || value < 1 || value > MAX_EXPIRY_DAYS) {
    UsageError(L"%ls %ls: give a number of days from 1 to %u", option, text, MAX_EXPIRY_DAYS);
    return 0;
  }
  *days = static_cast<uint32_t>(value);
  return 1;
}

// 1 for --expires and --expires-at.
static int IsExpiryOption(const wchar_t* argument) {
  return wcscmp(argument, L"--expires") == 0 || wcscmp(argument, L"--expires-at") == 0;
}

// --expires <days> or --expires-at <time> at arguments[*i], each once and
// not both. 0 after a usage error.
static int TakeExpiry(int count, wchar_t** arguments, int* i, ExpiryOption* expiry) {
  const wchar_t* option = arguments[*i];
  int days = wcscmp(option, L"--expires") == 0;
  if (expiry->days != 0 || expiry->at_given) {
    UsageError(L"%ls: the expiry is given twice (--expires and --expires-at are one or the other)", option);
    return 0;
  }
  const wchar_t* value = nullptr;
  if (!TakeValue(count, arguments, i, &value)) return 0;
  if (days) return TakeDays(option, value, &expiry->days);
  if (!ParseUtcTime(value, &expiry->at)) {
    UsageError(L"--expires-at %ls: a time is written YYYY-MM-DDTHH:MM:SSZ, in UTC (for example 2030-01-31T12:00:00Z)",
               value);
    return 0;
  }
  expiry->at_given = 1;
  return 1;
}

// An expiry is written only into a signed manifest.
static int ExpiryNeedsSign(const ExpiryOption& expiry, const std::wstring& sign_key) {
  if ((expiry.days != 0 || expiry.at_given) && sign_key.empty()) {
    UsageError(L"--expires and --expires-at need --sign: only a signed manifest carries an expiry");
    return 0;
  }
  return 1;
}

int ParsePackOptions(int count, wchar_t** arguments, PackOptions* options) {
  std::vector<const wchar_t*> positional;
  int have_diff_args = 0;
  std::wstring serial;
  for (int i = 0; i < count; ++i) {
    const wchar_t* argument = arguments[i];
    int ok = 1;
    if (wcscmp(argument, L"--from") == 0) {
      const wchar_t* value = nullptr;
      std::wstring folder;
      ok = TakeValue(count, arguments, &i, &value) && FullPath(value, &folder);
      if (ok) options->from.push_back(folder);
    } else if (wcscmp(argument, L"--diff-tool") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->diff_tool, 1);
    } else if (wcscmp(argument, L"--diff-args") == 0) {
      const wchar_t* value = nullptr;
      ok = !have_diff_args && TakeValue(count, arguments, &i, &value);
      if (!ok && have_diff_args) UsageError(L"--diff-args is given twice");
      if (ok) options->diff_args = value;
      have_diff_args = 1;
    } else if (wcscmp(argument, L"--patch-tool") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->patch_tool, 1);
    } else if (wcscmp(argument, L"--version") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->version, 0);
    } else if (wcscmp(argument, L"--sign") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->sign_key, 1);
    } else if (wcscmp(argument, L"--serial") == 0) {
      ok = TakeOnce(count, arguments, &i, &serial, 0);
    } else if (IsExpiryOption(argument)) {
      ok = TakeExpiry(count, arguments, &i, &options->expiry);
    } else if (IsOption(argument)) {
      UsageError(L"pack has no option %ls", argument);
      ok = 0;
    } else {
      positional.push_back(argument);
    }
    if (!ok) return 0;
  }
  if (positional.size() != 2) {
    UsageError(L"pack takes a client folder and a feed folder");
    return 0;
  }
  if (!FullPath(positional[0], &options->client) || !FullPath(positional[1], &options->feed)) return 0;
  if (!serial.empty() && (!ParseManifestNumber(serial.c_str(), &options->serial) || options->serial == 0)) {
    UsageError(L"--serial %ls: a serial is a number from 1 to 2^40", serial.c_str());
    return 0;
  }
  if (!options->from.empty() && options->diff_tool.empty()) {
    UsageError(L"--from needs --diff-tool: the program that makes the patches");
    return 0;
  }
  if (have_diff_args && options->diff_tool.empty()) {
    UsageError(L"--diff-args needs --diff-tool");
    return 0;
  }
  if (options->serial != 0 && options->sign_key.empty()) {
    UsageError(L"--serial needs --sign: only a signed manifest carries a serial");
    return 0;
  }
  return ExpiryNeedsSign(options->expiry, options->sign_key);
}

int ParseCheckOptions(int count, wchar_t** arguments, CheckOptions* options) {
  std::vector<const wchar_t*> positional;
  std::wstring public_key;
  std::vector<std::wstring> root_keys;
  for (int i = 0; i < count; ++i) {
    const wchar_t* argument = arguments[i];
    int ok = 1;
    if (wcscmp(argument, L"--client") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->client, 1);
    } else if (wcscmp(argument, L"--patch-tool") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->patch_tool, 1);
    } else if (wcscmp(argument, L"--public-key") == 0) {
      ok = TakeOnce(count, arguments, &i, &public_key, 0);
    } else if (wcscmp(argument, L"--root-key") == 0) {
      const wchar_t* value = nullptr;
      ok = TakeValue(count, arguments, &i, &value);
      if (ok) root_keys.push_back(value);
    } else if (wcscmp(argument, L"--ini") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->ini, 1);
    } else if (wcscmp(argument, L"--ca-file") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->ca_file, 1);
    } else if (IsOption(argument)) {
      UsageError(L"check has no option %ls", argument);
      ok = 0;
    } else {
      positional.push_back(argument);
    }
    if (!ok) return 0;
  }
  if (!options->ini.empty()) {
    // The INI file is checked on its own: it names the feed itself.
    if (!positional.empty() || !options->client.empty() || !options->patch_tool.empty() || !public_key.empty() ||
        !root_keys.empty() || !options->ca_file.empty()) {
      UsageError(L"check --ini takes the INI file alone");
      return 0;
    }
    return 1;
  }
  if (positional.size() != 1) {
    UsageError(L"check takes one feed folder or feed address");
    return 0;
  }
  if (!public_key.empty()) {
    for (wchar_t c : public_key) options->public_key += c < 128 ? char(c) : '?';
    unsigned char key[64];
    if (!DecodePublicKey(options->public_key.c_str(), key)) {
      UsageError(L"--public-key: a public key is 128 lowercase hexadecimal digits, as keygen prints it");
      return 0;
    }
  }
  if (!public_key.empty() && !root_keys.empty()) {
    UsageError(L"--public-key and --root-key cannot be combined: an updater is built with one or the other");
    return 0;
  }
  if (root_keys.size() > MAX_ROOT_KEYS) {
    UsageError(L"--root-key is given %u times; an updater pins at most %u root keys", static_cast<unsigned>(root_keys.size()),
               MAX_ROOT_KEYS);
    return 0;
  }
  for (const std::wstring& given : root_keys) {
    std::string key;
    for (wchar_t c : given) key += c < 128 ? char(c) : '?';
    unsigned char decoded[64];
    if (!DecodePublicKey(key.c_str(), decoded)) {
      UsageError(L"--root-key %ls: a root key is 128 lowercase hexadecimal digits, as keygen prints it", given.c_str());
      return 0;
    }
    options->root_keys.push_back(key);
  }
  if (wcsncmp(positional[0], L"https://", 8) == 0 || wcsncmp(positional[0], L"http://", 7) == 0) {
    options->over_https = 1;
    options->feed = positional[0];
    return 1;
  }
  if (!options->ca_file.empty()) {
    UsageError(L"--ca-file is for a feed address (https://): a feed folder is read without one");
    return 0;
  }
  return FullPath(positional[0], &options->feed);
}

int ParseKeygenOptions(int count, wchar_t** arguments, std::wstring* key_file) {
  if (count != 1 || IsOption(arguments[0])) {
    UsageError(L"keygen takes the private key file to write");
    return 0;
  }
  return FullPath(arguments[0], key_file);
}

// A serial given with --serial: a number from 1 to 2^40, and only with --sign.
static int TakeSerial(const std::wstring& text, const std::wstring& sign_key, uint64_t* serial) {
  if (text.empty()) return 1;
  if (!ParseManifestNumber(text.c_str(), serial) || *serial == 0) {
    UsageError(L"--serial %ls: a serial is a number from 1 to 2^40", text.c_str());
    return 0;
  }
  if (sign_key.empty()) {
    UsageError(L"--serial needs --sign: only a signed manifest carries a serial");
    return 0;
  }
  return 1;
}

// A count or entry number given with an option: lowest to the history's
// largest. (prune takes a 0 here and refuses it itself: it is understood,
// only not allowed.)
static int TakeEntryNumber(const wchar_t* option, const std::wstring& text, uint32_t lowest, uint32_t* number) {
  uint64_t value = 0;
  if (!ParseManifestNumber(text.c_str(), &value) || value < lowest || value > MAX_HISTORY_ENTRIES) {
    UsageError(L"%ls %ls: give a number from %u to %u", option, text.c_str(), lowest, MAX_HISTORY_ENTRIES);
    return 0;
  }
  *number = static_cast<uint32_t>(value);
  return 1;
}

int ParseHistoryOptions(int count, wchar_t** arguments, std::wstring* feed) {
  if (count != 1 || IsOption(arguments[0])) {
    UsageError(L"history takes one feed folder");
    return 0;
  }
  return FullPath(arguments[0], feed);
}

int ParseRollbackOptions(int count, wchar_t** arguments, RollbackOptions* options) {
  std::vector<const wchar_t*> positional;
  std::wstring to, serial;
  for (int i = 0; i < count; ++i) {
    const wchar_t* argument = arguments[i];
    int ok = 1;
    if (wcscmp(argument, L"--to") == 0) {
      ok = TakeOnce(count, arguments, &i, &to, 0);
    } else if (wcscmp(argument, L"--sign") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->sign_key, 1);
    } else if (wcscmp(argument, L"--serial") == 0) {
      ok = TakeOnce(count, arguments, &i, &serial, 0);
    } else if (IsExpiryOption(argument)) {
      ok = TakeExpiry(count, arguments, &i, &options->expiry);
    } else if (IsOption(argument)) {
      UsageError(L"rollback has no option %ls", argument);
      ok = 0;
    } else {
      positional.push_back(argument);
    }
    if (!ok) return 0;
  }
  if (positional.size() != 1) {
    UsageError(L"rollback takes one feed folder");
    return 0;
  }
  if (to.empty()) {
    UsageError(L"rollback needs --to <n>: the history entry to make live again (see the history command)");
    return 0;
  }
  return TakeEntryNumber(L"--to", to, 1, &options->to) && TakeSerial(serial, options->sign_key, &options->serial) &&
         ExpiryNeedsSign(options->expiry, options->sign_key) && FullPath(positional[0], &options->feed);
}

int ParsePruneOptions(int count, wchar_t** arguments, PruneOptions* options) {
  std::vector<const wchar_t*> positional;
  std::wstring keep;
  for (int i = 0; i < count; ++i) {
    const wchar_t* argument = arguments[i];
    int ok = 1;
    if (wcscmp(argument, L"--keep") == 0) {
      ok = TakeOnce(count, arguments, &i, &keep, 0);
    } else if (wcscmp(argument, L"--dry-run") == 0) {
      options->dry_run = 1;
    } else if (IsOption(argument)) {
      UsageError(L"prune has no option %ls", argument);
      ok = 0;
    } else {
      positional.push_back(argument);
    }
    if (!ok) return 0;
  }
  if (positional.size() != 1) {
    UsageError(L"prune takes one feed folder");
    return 0;
  }
  if (keep.empty()) {
    UsageError(L"prune needs --keep <n>: how many of the newest releases keep their blobs");
    return 0;
  }
  return TakeEntryNumber(L"--keep", keep, 0, &options->keep) && FullPath(positional[0], &options->feed);
}

int ParseKeysOptions(int count, wchar_t** arguments, KeysOptions* options) {
  std::vector<const wchar_t*> positional;
  std::wstring version, expires;
  for (int i = 0; i < count; ++i) {
    const wchar_t* argument = arguments[i];
    int ok = 1;
    if (wcscmp(argument, L"--root-key") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->root_key, 1);
    } else if (wcscmp(argument, L"--signing-key") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->signing_key, 1);
    } else if (wcscmp(argument, L"--new-root") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->new_root, 1);
    } else if (wcscmp(argument, L"--version") == 0) {
      ok = TakeOnce(count, arguments, &i, &version, 0);
    } else if (wcscmp(argument, L"--expires") == 0) {
      ok = TakeOnce(count, arguments, &i, &expires, 0);
    } else if (IsOption(argument)) {
      UsageError(L"keys has no option %ls", argument);
      ok = 0;
    } else {
      positional.push_back(argument);
    }
    if (!ok) return 0;
  }
  if (positional.size() != 1) {
    UsageError(L"keys takes one feed folder");
    return 0;
  }
  if (options->root_key.empty() || options->signing_key.empty()) {
    UsageError(L"keys needs --root-key <root key file> (it signs the record) and --signing-key <signing key file> "
               L"(the record names it)");
    return 0;
  }
  if (!version.empty() && (!ParseManifestNumber(version.c_str(), &options->version) || options->version == 0)) {
    UsageError(L"--version %ls: a key version is a number from 1 to 2^40", version.c_str());
    return 0;
  }
  if (!expires.empty() && !TakeDays(L"--expires", expires.c_str(), &options->expires_days)) return 0;
  return FullPath(positional[0], &options->feed);
}

int ParseResignOptions(int count, wchar_t** arguments, ResignOptions* options) {
  std::vector<const wchar_t*> positional;
  for (int i = 0; i < count; ++i) {
    const wchar_t* argument = arguments[i];
    int ok = 1;
    if (wcscmp(argument, L"--sign") == 0) {
      ok = TakeOnce(count, arguments, &i, &options->sign_key, 1);
    } else if (IsExpiryOption(argument)) {
      ok = TakeExpiry(count, arguments, &i, &options->expiry);
    } else if (IsOption(argument)) {
      UsageError(L"resign has no option %ls", argument);
      ok = 0;
    } else {
      positional.push_back(argument);
    }
    if (!ok) return 0;
  }
  if (positional.size() != 1) {
    UsageError(L"resign takes one feed folder");
    return 0;
  }
  if (options->sign_key.empty()) {
    UsageError(L"resign needs --sign <signing key file>: the key that keys.ini names");
    return 0;
  }
  return FullPath(positional[0], &options->feed);
}

void PrintUsage() {
  UsageError(L"usage:");
  UsageError(L"  Quenfar8Release.exe pack <client folder> <feed folder> [--from <older client folder>]...");
  UsageError(L"      [--diff-tool <exe>] [--diff-args \"<text>\"] [--patch-tool <hpatchz.exe>] [--version <text>]");
  UsageError(L"      [--sign <private key file> [--serial <n>] [--expires <days> | --expires-at <YYYY-MM-DDTHH:MM:SSZ>]]");
  UsageError(L"  Quenfar8Release.exe check <feed folder | https://host/path/ [--ca-file <CA certificates, PEM>]>");
  UsageError(L"      [--client <folder>]");
  UsageError(L"      [--patch-tool <hpatchz.exe>] [--public-key <128 hexadecimal digits> | --root-key <128 hexadecimal "
             L"digits>...]");
  UsageError(L"  Quenfar8Release.exe check --ini <Quenfar8Updater.ini>");
  UsageError(L"  Quenfar8Release.exe keygen <private key file>");
  UsageError(L"  Quenfar8Release.exe keys <feed folder> --root-key <root key file> --signing-key <signing key file>");
  UsageError(L"      [--version <n>] [--expires <days>] [--new-root <new root key file>]");
  UsageError(L"  Quenfar8Release.exe resign <feed folder> --sign <signing key file>");
  UsageError(L"      [--expires <days> | --expires-at <YYYY-MM-DDTHH:MM:SSZ>]");
  UsageError(L"  Quenfar8Release.exe history <feed folder>");
  UsageError(L"  Quenfar8Release.exe rollback <feed folder> --to <n> [--sign <private key file> [--serial <n>]");
  UsageError(L"      [--expires <days> | --expires-at <YYYY-MM-DDTHH:MM:SSZ>]]");
  UsageError(L"  Quenfar8Release.exe prune <feed folder> --keep <n> [--dry-run]");
}
