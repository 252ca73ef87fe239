// Signing the live manifest again, in order: read the record and the key
// (the record's signing key, kept out of the feed folder); read the live
// manifest with the updater's reader and refuse one not in pack's own
// form; write the same text under the next serial with new key fields and
// a new signature; publish it as pack does, by one rename. The release is
// the same, so the history gets no entry: history and prune take a
// manifest that differs from its entry only in these lines as that entry.
#include "release/key_commands.h"

#include <string.h>

#include "engine/manifest.h"
#include "release/blob_store.h"
#include "release/feed_history.h"
#include "release/feed_keys.h"
#include "release/output.h"
#include "release/signing.h"
#include "platform/paths.h"

namespace {

// The re-signed manifest text; its serial goes to *serial. Empty after a
// problem.
std::string SignedAgain(const ResignOptions& options, const FeedKeys& keys, const ReleaseRecord& live,
                        uint64_t* serial, ManifestKeyFields* fields) {
  KeyPair pair;
  if (!ReadKeyFile(options.sign_key, &pair)) return "";
  std::string text;
  // Read before anything else replaces the loaded manifest.
  ManifestKeyFields live_fields = LoadedKeyFields();
  if (!IsRecordSigningKey(keys, pair)) {
    // reported
  } else if (ManifestText(live.files, live.patches, live.version, live.serial, live_fields) !=
             UnsignedPart(live.text)) {
    Problem(L"manifest.ini is not in the form pack writes; it cannot be signed again unchanged (pack or roll back "
            L"the release instead)");
  } else if (live.serial >= MANIFEST_LARGEST_NUMBER) {
    Problem(L"the feed's serial is at its largest, 2^40; updaters refuse a higher one");
  } else if (NewKeyFields(keys, options.expiry, fields)) {
    *serial = live.serial + 1;
    text = SignedManifest(ManifestText(live.files, live.patches, live.version, *serial, *fields), pair);
  }
  memset(pair.private_key, 0, sizeof pair.private_key);
  return text;
}

}  // namespace

int Resign(const ResignOptions& options) {
  if (IsWithinFolder(options.sign_key, options.feed)) {
    Problem(L"%ls: the private key lies inside the feed folder; keep it where nothing is published",
            options.sign_key.c_str());
    Say(L"nothing was written");
    return 1;
  }
  FeedKeys keys;
  if (!ReadFeedKeys(options.feed, &keys)) {
    Say(L"nothing was written");
    return 1;
  }
  if (!keys.present) {
    Problem(L"%ls" PATH_SEPARATOR L"keys.ini: missing; resign renews the expiry of a feed with a key record (write one with the keys "
            L"command)",
            options.feed.c_str());
    Say(L"nothing was written");
    return 1;
  }
  std::wstring why;
  ReleaseRecord live;
  if (!ReadRelease(options.feed + PATH_SEPARATOR L"manifest.ini", &live, &why)) {
    Problem(L"%ls" PATH_SEPARATOR L"manifest.ini: %ls", options.feed.c_str(), why.c_str());
    Say(L"nothing was written");
    return 1;
  }
  uint64_t serial = 0;
  ManifestKeyFields fields;
  std::string text = SignedAgain(options, keys, live, &serial, &fields);
  if (text.empty()) {
    Say(L"nothing was written");
    return 1;
  }
  BlobStore store;
  int changed = 0;
  int ok = OpenBlobStore(options.feed, &store) && PublishManifest(store, live.text, text, &changed);
  CloseBlobStore(&store, ok);
  if (!ok) {
    Say(L"the manifest was not signed again: manifest.ini is unchanged");
    return 1;
  }
  Say(L"%ls: manifest.ini signed again, serial %llu, key version %llu, expires %ls; the release (version %ls) is "
      L"unchanged",
      options.feed.c_str(), static_cast<unsigned long long>(serial), static_cast<unsigned long long>(fields.key_version),
      WideAscii(UtcText(fields.expires)).c_str(), live.version.empty() ? L"(none)" : live.version.c_str());
  return 0;
}
