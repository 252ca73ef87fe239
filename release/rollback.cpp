// Making an older release live again, in order: read the live manifest and
// the history entry; refuse unless every blob the entry names is in the
// feed by size and digest; make the manifest (the entry's own bytes, or for
// a signed feed the same release under a higher serial, signed again);
// then publish as pack does: the new history entry, and manifest.ini last,
// by one rename.
#include "release/history_commands.h"

#include <string.h>

#include "app/config.h"
#include "engine/manifest.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "release/blob_store.h"
#include "release/client_folder.h"
#include "release/feed_history.h"
#include "release/feed_keys.h"
#include "release/key_file.h"
#include "release/manifest_writer.h"
#include "release/output.h"
#include "release/pack.h"
#include "release/signing.h"

namespace {

// A path inside (or equal to) folder, compared without regard to case.
int IsWithin(const std::wstring& path, const std::wstring& folder) {
  std::wstring p = FoldedName(path), f = FoldedName(folder);
  return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == PATH_SEPARATOR_CHAR);
}

// The manifest that makes entry live again on a signed feed: its files and
// patches under a serial above the live one, signed with the key; that
// serial goes to *signed_serial. Empty after a problem.
std::string SignedAgain(const RollbackOptions& options, const FeedKeys& keys, const ReleaseRecord& entry,
                        uint64_t live_serial, uint64_t* signed_serial) {
  if (IsWithin(options.sign_key, options.feed)) {
    Problem(L"%ls: the private key lies inside the feed folder; keep it where nothing is published",
            options.sign_key.c_str());
    return "";
  }
  // The entry's own key fields, read before the key file is: only a text
  // that pack's form gives back exactly can be written again unchanged.
  CopyInto(config.manifest_path, HistoryEntryPath(options.feed, options.to).c_str());
  ManifestKeyFields entry_fields = LoadedKeyFields();
  KeyPair pair;
  if (!ReadKeyFile(options.sign_key, &pair)) return "";
  uint64_t serial = options.serial != 0 ? options.serial : live_serial + 1;
  std::string text;
  ManifestKeyFields fields;
  if (!IsRecordSigningKey(keys, pair)) {
    // reported
  } else if (serial <= live_serial) {
    Problem(L"--serial %llu: the live release has serial %llu; updaters go only forward, so the release gone back "
            L"to needs a higher one",
            static_cast<unsigned long long>(serial), static_cast<unsigned long long>(live_serial));
  } else if (serial > MANIFEST_LARGEST_NUMBER) {
    Problem(L"the feed's serial is at its largest, 2^40; updaters refuse a higher one");
  } else if (ManifestText(entry.files, entry.patches, entry.version, entry.serial, entry_fields) !=
             UnsignedPart(entry.text)) {
    // Only a manifest in pack's own form can be written again with another
    // serial and nothing else changed.
    Problem(L"the entry is not in the form pack writes; it cannot be signed again unchanged");
  } else if (NewKeyFields(keys, options.expiry, &fields)) {
    text = SignedManifest(ManifestText(entry.files, entry.patches, entry.version, serial, fields), pair);
    *signed_serial = serial;
  }
  memset(pair.private_key, 0, sizeof pair.private_key);
  return text;
}

// What clients of the release live until now hold of the entry's files:
// their digests and sizes by name, empty where it has no such file.
OlderClient ClientsOfLive(const ReleaseRecord& live, const ReleaseRecord& entry, const std::wstring& label) {
  OlderClient older;
  older.folder = label;
  for (const ClientFile& file : entry.files) {
    std::wstring sha256;
    uint64_t size = 0;
    for (const ClientFile& had : live.files) {
      if (FoldedName(had.name) == FoldedName(file.name)) {
        sha256 = had.sha256;
        size = had.size;
      }
    }
    older.sha256.push_back(sha256);
    older.size.push_back(size);
    older.written.push_back(0);
  }
  return older;
}

}  // namespace

int Rollback(const RollbackOptions& options) {
  uint32_t count = 0;
  FeedKeys keys;
  if (!ReadFeedKeys(options.feed, &keys)) {
    Say(L"nothing was written");
    return 1;
  }
  if (!keys.present && (options.expiry.days != 0 || options.expiry.at_given)) {
    Problem(L"--expires and --expires-at: only a feed with a key record (keys.ini) carries an expiry; write one with "
            L"the keys command first");
    Say(L"nothing was written");
    return 1;
  }
  if (!CountHistory(options.feed, &count)) {
    Say(L"nothing was written");
    return 1;
  }
  if (options.to > count) {
    Problem(L"--to %u: the history has %u entries", options.to, count);
    Say(L"nothing was written");
    return 1;
  }
  std::wstring why;
  ReleaseRecord entry;
  if (!ReadRelease(HistoryEntryPath(options.feed, options.to), &entry, &why)) {
    Problem(L"%ls: %ls", HistoryEntryPath(options.feed, options.to).c_str(), why.c_str());
    Say(L"nothing was written");
    return 1;
  }
  // The live release: its serial and what its clients hold. A live manifest
  // that cannot be read is not in the way: rollback replaces it.
  std::wstring live_path = options.feed + PATH_SEPARATOR L"manifest.ini";
  ReleaseRecord live;
  int live_read = ReadRelease(live_path, &live, &why);
  if (!live_read) live.text = ReadSmallFile(live_path);
  uint64_t live_serial = live.serial;
  int signed_feed = UnsignedPart(live.text) != live.text;
  if (!live_read) {
    // Without a live serial to go above, the newest entry's stands for it:
    // no pack or rollback published a higher one, and clients that took a
    // serial took at most that. Its signature says whether the feed is
    // signed.
    live_serial = 0;
    ReleaseRecord newest;
    std::wstring ignored;
    if (ReadRelease(HistoryEntryPath(options.feed, count), &newest, &ignored)) {
      live_serial = newest.serial;
      if (newest.is_signed) signed_feed = 1;
    }
  }
  std::vector<std::wstring> missing;
  if (!HasAllBlobs(options.feed, entry, 1, &missing)) {
    for (const std::wstring& blob : missing) Problem(L"%ls", blob.c_str());
    Problem(L"history entry %u cannot be made live: %u of the blobs it names are not in the feed (pruned?)",
            options.to, static_cast<unsigned>(missing.size()));
    Say(L"nothing was written");
    return 1;
  }
  std::string text;
  uint64_t serial = 0;
  if (entry.text == live.text) {
    if (ReadSmallFile(HistoryEntryPath(options.feed, count)) == live.text) {
      Say(L"%ls: history entry %u is live already; nothing was written", options.feed.c_str(), options.to);
      return 0;
    }
    // Live, but a newer entry was written by a publication that stopped
    // before its rename: recorded again, the live manifest is the newest
    // entry once more (which prune requires), and nothing else changes.
    text = live.text;
  } else if (!options.sign_key.empty()) {
    text = SignedAgain(options, keys, entry, live_serial, &serial);
  } else if (keys.present) {
    Problem(L"the feed has a key record (keys.ini): give --sign <signing key file>, and the release gone back to is "
            L"signed again under a higher serial with the record's key version");
  } else if (signed_feed) {
    Problem(L"the feed is signed: give --sign <private key file>, and the release gone back to is signed "
            L"again under a higher serial (updaters never go back in serial)");
  } else {
    text = entry.text;
  }
  if (text.empty()) {
    Say(L"nothing was written");
    return 1;
  }
  BlobStore store;
  uint32_t number = 0;
  int changed = 0;
  missing.clear();
  int ok = OpenBlobStore(options.feed, &store) && AddHistoryEntry(options.feed, store.work, text, &number);
  // Once more just before the rename: a prune meanwhile must not leave the
  // manifest naming a blob that is gone.
  if (ok && !HasAllBlobs(options.feed, entry, 0, &missing)) {
    for (const std::wstring& blob : missing) Problem(L"%ls: gone before the manifest was published", blob.c_str());
    ok = 0;
  }
  ok = ok && PublishManifest(store, live.text, text, &changed);
  CloseBlobStore(&store, ok);
  if (!ok) {
    Say(L"the release was not published: manifest.ini is unchanged");
    return 1;
  }
  wchar_t signed_as[64] = L"";
  if (serial != 0) FormatInto(signed_as, L", signed, serial %llu", static_cast<unsigned long long>(serial));
  Say(L"%ls: history entry %u (version %ls) is live again as history entry %u%ls", options.feed.c_str(), options.to,
      entry.version.empty() ? L"(none)" : entry.version.c_str(), number, signed_as);
  std::vector<OlderClient> olders;
  if (live_read) {
    std::wstring label = L"the release live until now";
    if (!live.version.empty()) label += L" (version " + live.version + L")";
    olders.push_back(ClientsOfLive(live, entry, label));
  }
  PrintSummary(entry.files, entry.patches, olders);
  return 0;
}
