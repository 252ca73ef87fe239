// Reading the feed's key record and making a manifest's key fields.
#include "release/feed_keys.h"

#include <string.h>
#include <wchar.h>

#include "engine/manifest.h"
#include "engine/release_time.h"
#include "engine/signature.h"
#include "platform/paths.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "transfer/digest.h"
#include "release/client_folder.h"
#include "release/feed_history.h"
#include "release/output.h"

std::string KeyHex(const unsigned char key[64]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 64; ++i) {
    text += kDigits[key[i] >> 4];
    text += kDigits[key[i] & 15];
  }
  return text;
}

std::wstring WideAscii(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

int IsWithinFolder(const std::wstring& path, const std::wstring& folder) {
  std::wstring p = FoldedName(path), f = FoldedName(folder);
  return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == PATH_SEPARATOR_CHAR);
}

// A key of 128 lowercase digits from key in section of the INI file at
// path. 0 when missing or of any other form.
static int ReadKey(const std::wstring& path, const wchar_t* section, const wchar_t* key, unsigned char out[64]) {
  wchar_t text[130];
  ReadIniText(path.c_str(), section, key, text, 130);
  std::string narrow;
  for (const wchar_t* c = text; *c != L'\0'; ++c) narrow += *c < 128 ? char(*c) : '?';
  return DecodePublicKey(narrow.c_str(), out);
}

int ReadFeedKeys(const std::wstring& feed, FeedKeys* keys) {
  *keys = FeedKeys();
  std::wstring path = feed + PATH_SEPARATOR L"keys.ini";
  if (!IsRegularFile(path.c_str())) return 1;
  keys->present = 1;
  keys->text = ReadSmallFile(path);
  wchar_t text[32];
  ReadIniText(path.c_str(), L"keys", L"version", text, 32);
  int ok = ParseManifestNumber(text, &keys->version) && keys->version != 0;
  if (!ok) Problem(L"%ls: [keys] version: \"%ls\" is not a number from 1 to 2^40", path.c_str(), text);
  if (!ReadKey(path, L"keys", L"signing_key", keys->signing_key)) {
    Problem(L"%ls: [keys] signing_key is not 128 lowercase hexadecimal digits", path.c_str());
    ok = 0;
  }
  wchar_t expires[UTC_TIME_CHARACTERS + 2];
  ReadIniText(path.c_str(), L"keys", L"expires", expires, UTC_TIME_CHARACTERS + 2);
  if (!ParseUtcTime(expires, &keys->expires)) keys->expires = 0;
  // The updater walks the rotations in order and stops at the first one
  // without a "from"; so does this reading.
  for (unsigned n = 1; n <= 4; ++n) {
    wchar_t section[32];
    FormatInto(section, L"rotation.%u", n);
    RootRotation rotation;
    if (!ReadKey(path, section, L"from", rotation.from) || !ReadKey(path, section, L"to", rotation.to) ||
        !ReadKey(path, section, L"signature", rotation.signature)) {
      break;
    }
    keys->rotations.push_back(rotation);
  }
  if (!ok) Problem(L"%ls: the key record cannot be read; write a new one with the keys command", path.c_str());
  return ok;
}

int NewKeyFields(const FeedKeys& keys, const ExpiryOption& expiry, ManifestKeyFields* fields) {
  *fields = ManifestKeyFields();
  int asked = expiry.days != 0 || expiry.at_given;
  if (!keys.present) {
    if (!asked) return 1;
    Problem(L"--expires and --expires-at: only a feed with a key record (keys.ini) carries an expiry; write one with "
            L"the keys command first");
    return 0;
  }
  uint64_t now = UtcSecondsNow();
  fields->key_version = keys.version;
  fields->signed_at = now;
  if (expiry.at_given) {
    fields->expires = expiry.at;
  } else {
    fields->expires = now + 86400ULL * (expiry.days != 0 ? expiry.days : DEFAULT_MANIFEST_DAYS);
  }
  if (fields->expires <= now) {
    // Written as asked (drills and tests need an expired feed), with the
    // signing time no later than the expiry: updaters then refuse it as
    // expired, not as broken.
    fields->signed_at = fields->expires;
    Note(L"--expires-at %ls is already past: every updater refuses this manifest as expired; publish it only to "
         L"practise, and resign the feed afterwards",
         WideAscii(UtcText(fields->expires)).c_str());
  }
  return 1;
}

int IsRecordSigningKey(const FeedKeys& keys, const KeyPair& pair) {
  if (!keys.present || memcmp(keys.signing_key, pair.public_key, 64) == 0) return 1;
  Problem(L"the record names another signing key: keys.ini names %ls, this key is %ls (sign with the key of the "
          L"record's version %llu, or write a new record with the keys command first)",
          WideAscii(KeyHex(keys.signing_key)).c_str(), WideAscii(KeyHex(pair.public_key)).c_str(),
          static_cast<unsigned long long>(keys.version));
  return 0;
}

ManifestKeyFields LoadedKeyFields() {
  ManifestKeyFields fields;
  if (!ReadManifestNumber(L"release", L"key_version", &fields.key_version)) fields.key_version = 0;
  wchar_t text[UTC_TIME_CHARACTERS + 2];
  ReadManifestText(L"release", L"signed", text, UTC_TIME_CHARACTERS + 2);
  if (!ParseUtcTime(text, &fields.signed_at)) fields.signed_at = 0;
  ReadManifestText(L"release", L"expires", text, UTC_TIME_CHARACTERS + 2);
  if (!ParseUtcTime(text, &fields.expires)) fields.expires = 0;
  return fields;
}
