// Packing a release, in order: check the inputs (nothing is written when one
// is refused), store the files and make the patches in the work folder,
// check that no input changed meanwhile, then publish: blobs first and
// manifest.ini last, by one rename, so that a feed synced in the same order
// is never seen half published.
#include "release/pack.h"

#include <string.h>
#include <wchar.h>

#include <map>

#include "app/config.h"
#include "engine/file_table.h"
#include "engine/manifest.h"
#include "engine/plan.h"
#include "engine/signature.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/text.h"
#include "release/blob_store.h"
#include "release/client_folder.h"
#include "release/feed_history.h"
#include "release/feed_keys.h"
#include "release/key_file.h"
#include "release/manifest_writer.h"
#include "release/output.h"
#include "release/patches.h"
#include "release/progress.h"
#include "release/signing.h"
#include "transfer/digest.h"

namespace {

// What the feed's current manifest says of a file: a hint that spares
// copying a file already in the store.
struct Listed {
  std::wstring sha256;
  uint64_t size;
};

// A path inside (or equal to) folder, compared without regard to case.
int IsWithin(const std::wstring& path, const std::wstring& folder) {
  std::wstring p = FoldedName(path), f = FoldedName(folder);
  return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == PATH_SEPARATOR_CHAR);
}

// What the feed holds now: its manifest's bytes, files by name and serial.
struct CurrentFeed {
  std::string text;                      // manifest.ini as it is, empty for none
  std::map<std::wstring, Listed> files;  // its files by name, case folded
  uint64_t serial = 0;                   // its serial, 0 for none
  ManifestKeyFields key_fields;          // its key fields, as far as they can be read
  FeedKeys keys;                         // the feed's key record (keys.ini), when it has one
  int keys_read = 1;                     // 0 when keys.ini is there but cannot be read (reported)
};

// Reads the current manifest of the feed, when there is one, with the
// updater's own reader.
CurrentFeed ReadCurrentFeed(const std::wstring& feed) {
  CurrentFeed current;
  current.keys_read = ReadFeedKeys(feed, &current.keys);
  std::wstring path = feed + PATH_SEPARATOR L"manifest.ini";
  if (!IsRegularFile(path.c_str())) return current;
  current.text = ReadSmallFile(path);
  CopyInto(config.manifest_path, path.c_str());
  if (!ReadManifestNumber(L"release", L"serial", &current.serial)) current.serial = 0;
  current.key_fields = LoadedKeyFields();
  uint64_t count = 0;
  if (!ReadManifestNumber(L"release", L"count", &count) || count > MAX_FILES) return current;
  for (uint64_t n = 0; n < count; ++n) {
    wchar_t section[64], name[NAME_CAPACITY], sha256[DIGEST_CAPACITY];
    FormatInto(section, L"file.%llu", static_cast<unsigned long long>(n));
    ReadManifestText(section, L"name", name, NAME_CAPACITY);
    ReadManifestText(section, L"sha256", sha256, DIGEST_CAPACITY);
    uint64_t size = 0;
    if (IsSha256Hex(sha256) && ReadManifestNumber(section, L"size", &size)) current.files[FoldedName(name)] = {sha256, size};
  }
  return current;
}

// Every input that can be judged before anything is written.
int CheckInputs(const PackOptions& options, const CurrentFeed& current, std::vector<ClientFile>* files, KeyPair* pair) {
  int ok = ListClientFolder(options.client, files) && current.keys_read;
  if (current.keys.present && options.sign_key.empty()) {
    Problem(L"the feed has a key record (keys.ini): updaters built with root keys take only a manifest signed with "
            L"its signing key; give --sign <signing key file>");
    ok = 0;
  }
  if (!current.keys.present && (options.expiry.days != 0 || options.expiry.at_given)) {
    Problem(L"--expires and --expires-at: only a feed with a key record (keys.ini) carries an expiry; write one with "
            L"the keys command first");
    ok = 0;
  }
  if (!options.sign_key.empty()) {
    // A key in the feed folder would be published with the next upload,
    // and one in the client folder as a file of the release.
    if (IsWithin(options.sign_key, options.feed) || IsWithin(options.sign_key, options.client)) {
      Problem(L"%ls: the private key lies inside the %ls folder; keep it where nothing is published",
              options.sign_key.c_str(), IsWithin(options.sign_key, options.feed) ? L"feed" : L"client");
      ok = 0;
    } else if (!ReadKeyFile(options.sign_key, pair)) {
      ok = 0;
    } else if (!IsRecordSigningKey(current.keys, *pair)) {
      ok = 0;
    }
    if (options.serial != 0 && options.serial < current.serial) {
      Problem(L"--serial %llu: the feed's current serial is %llu, and updaters that installed it refuse a lower one",
              static_cast<unsigned long long>(options.serial), static_cast<unsigned long long>(current.serial));
      ok = 0;
    }
  }
  if (IsWithin(options.feed, options.client)) {
    Problem(L"%ls: the feed folder must not lie inside the client folder", options.feed.c_str());
    ok = 0;
  }
  for (const std::wstring& from : options.from) {
    uint32_t attributes = FileAttributes(from.c_str());
    if (attributes == NO_ATTRIBUTES || !(attributes & ATTRIBUTE_FOLDER)) {
      Problem(L"%ls: --from names no folder", from.c_str());
      ok = 0;
    }
  }
  if (!options.diff_tool.empty() && !IsRegularFile(options.diff_tool.c_str())) {
    Problem(L"%ls: --diff-tool names no program", options.diff_tool.c_str());
    ok = 0;
  }
  if (!options.patch_tool.empty() && !IsRegularFile(options.patch_tool.c_str())) {
    Problem(L"%ls: --patch-tool names no program", options.patch_tool.c_str());
    ok = 0;
  }
  if (!options.version.empty() && !IsVersionText(options.version)) {
    Problem(L"--version \"%ls\": a version is 1 to 64 printable ASCII characters without a blank or quote at either end",
            options.version.c_str());
    ok = 0;
  }
  return ok;
}

// Hashes every client file and stores its bytes, one read per file.
int StoreFiles(BlobStore* store, const std::map<std::wstring, Listed>& listed, std::vector<ClientFile>* files,
               std::vector<uint64_t>* stamps) {
  uint64_t total = 0;
  for (const ClientFile& file : *files) total += file.size;
  ProgressBegin(L"hashing and storing", total);
  int ok = 1;
  for (ClientFile& file : *files) {
    uint64_t size = 0, time = 0;
    FileStamp(file.path.c_str(), &size, &time);
    stamps->push_back(time);
    std::wstring known;
    auto hint = listed.find(FoldedName(file.name));
    if (hint != listed.end() && hint->second.size == file.size) {
      uint64_t found = 0;
      std::wstring blob = StorePath(*store, L"files", hint->second.sha256);
      if (FileSizeFromAttributes(blob.c_str(), &found) && found == file.size) known = hint->second.sha256;
    }
    if (!StoreClientFile(store, known, &file)) {
      ok = 0;
      break;
    }
  }
  ProgressEnd();
  return ok;
}

// A client file that changed after it was read would be published with
// bytes it no longer has; such a file is refused.
int NothingChanged(const std::vector<ClientFile>& files, const std::vector<uint64_t>& stamps) {
  int ok = 1;
  for (size_t i = 0; i < files.size(); ++i) {
    uint64_t size = 0, time = 0;
    if (!FileStamp(files[i].path.c_str(), &size, &time) || size != files[i].size || time != stamps[i]) {
      Problem(L"%ls: changed while it was packed; pack again when it is final", files[i].name.c_str());
      ok = 0;
    }
  }
  return ok;
}

// The manifest to publish. A signed one keeps the feed's serial when its
// content is the same as the current manifest's and that one is signed by
// this key (so packing again changes nothing; on a feed with a key record
// the current manifest must also name the record's version, and keeps its
// times); otherwise it takes the serial asked for, or one more than the
// feed's, and on a feed with a key record new key fields. Empty after a
// problem.
std::string ManifestToPublish(const PackOptions& options, const CurrentFeed& current, const KeyPair& pair,
                              const std::vector<ClientFile>& files, const std::vector<std::vector<MadePatch>>& patches,
                              uint64_t* serial) {
  *serial = 0;
  if (options.sign_key.empty()) {
    if (current.serial != 0 && current.text != UnsignedPart(current.text)) {
      Note(L"the feed's current manifest is signed and this one is not: updaters built with a key refuse it");
    }
    return ManifestText(files, patches, options.version, 0);
  }
  uint64_t kept = options.serial != 0 ? options.serial : current.serial;
  ManifestKeyFields kept_fields;
  if (current.keys.present) kept_fields = current.key_fields;
  int names_record = !current.keys.present || current.key_fields.key_version == current.keys.version;
  if (kept != 0 && kept == current.serial) {
    if (names_record && UnsignedPart(current.text) == ManifestText(files, patches, options.version, kept, kept_fields) &&
        CheckSignedFile((options.feed + PATH_SEPARATOR L"manifest.ini").c_str(), pair.public_key) == SignatureFault::None) {
      *serial = kept;
      if (options.expiry.days != 0 || options.expiry.at_given) {
        Note(L"the release is the one published: manifest.ini is kept with its expiry, %ls; resign gives it a new "
             L"one",
             WideAscii(UtcText(current.key_fields.expires)).c_str());
      }
      return current.text;
    }
    // Updaters take an equal serial as the same release: two different
    // manifests under one serial could be swapped for each other for ever.
    if (options.serial != 0) {
      Problem(L"--serial %llu: the feed's current release has this serial; another release needs a higher one",
              static_cast<unsigned long long>(kept));
      return "";
    }
  }
  *serial = options.serial != 0 ? options.serial : current.serial + 1;
  if (*serial > MANIFEST_LARGEST_NUMBER) {
    Problem(L"the feed's serial is at its largest, 2^40; updaters refuse a higher one");
    return "";
  }
  ManifestKeyFields fields;
  if (!NewKeyFields(current.keys, options.expiry, &fields)) return "";
  return SignedManifest(ManifestText(files, patches, options.version, *serial, fields), pair);
}

// Keeps the feed's release history: text, the manifest about to be
// published, becomes the next entry before the manifest's rename. A feed
// packed before it had a history gets one with its next new release, and
// the manifest live until then is recorded first, so that it can be gone
// back to. A pack that writes no manifest adds no entry. 0 after a
// problem.
int KeepHistory(const PackOptions& options, const BlobStore& store, const std::string& current,
                const std::string& text, uint32_t* entry) {
  *entry = 0;
  if (text == current) return 1;
  int starting = !HasHistory(options.feed);
  if (!EnsureHistoryFolder(options.feed)) return 0;
  uint32_t number = 0;
  if (starting && !current.empty() && !AddHistoryEntry(options.feed, store.work, current, &number)) return 0;
  if (text != current && !AddHistoryEntry(options.feed, store.work, text, &number)) return 0;
  *entry = number;
  return 1;
}

// Every blob the manifest is about to name is in the store with its size:
// a prune run meanwhile must not leave the new manifest naming a missing
// blob. Asked only of feeds with a history (prune needs one).
int StoreHoldsRelease(const BlobStore& store, const std::vector<ClientFile>& files,
                      const std::vector<std::vector<MadePatch>>& patches) {
  int ok = 1;
  auto holds = [&](const wchar_t* kind, const std::wstring& digest, uint64_t size) {
    uint64_t found = 0;
    std::wstring blob = StorePath(store, kind, digest);
    if (!FileSizeFromAttributes(blob.c_str(), &found) || found != size) {
      Problem(L"%ls: gone from the store before the manifest was published (was the feed pruned meanwhile?)",
              blob.c_str());
      ok = 0;
    }
  };
  for (size_t i = 0; i < files.size(); ++i) {
    holds(L"files", files[i].sha256, files[i].size);
    for (const MadePatch& patch : patches[i]) holds(L"patches", patch.sha256, patch.size);
  }
  return ok;
}

}  // namespace

// What clients of each older release will download, with the patch the
// updater would choose for each of their files.
void PrintSummary(const std::vector<ClientFile>& files, const std::vector<std::vector<MadePatch>>& patches,
                  const std::vector<OlderClient>& olders) {
  uint64_t total = 0;
  for (const ClientFile& file : files) total += file.size;
  Say(L"release: %u files, %ls (%llu bytes)", static_cast<unsigned>(files.size()), Bytes(total).c_str(),
      static_cast<unsigned long long>(total));
  for (const OlderClient& older : olders) {
    uint64_t download = 0;
    unsigned current = 0, patched = 0, whole = 0;
    for (size_t i = 0; i < files.size(); ++i) {
      const ClientFile& file = files[i];
      if (older.sha256[i] == file.sha256 && older.size[i] == file.size) {
        ++current;
        continue;
      }
      uint64_t chosen = file.size;
      PatchSection section;
      CopyInto(section.path, L"");
      for (const MadePatch& patch : patches[i]) {
        CopyInto(section.base_sha256, patch.base_sha256.c_str());
        CopyInto(section.sha256, patch.sha256.c_str());
        section.size = patch.size;
        if (!older.sha256[i].empty() && PatchBeats(&section, older.sha256[i].c_str(), chosen)) chosen = patch.size;
      }
      if (chosen < file.size) {
        ++patched;
      } else {
        ++whole;
      }
      download += chosen;
    }
    double share = total > 0 ? 100.0 * static_cast<double>(download) / static_cast<double>(total) : 0.0;
    Say(L"clients of %ls: download %ls (%llu bytes) of %llu bytes, %.1f%%: %u current, %u by patch, %u whole",
        older.folder.c_str(), Bytes(download).c_str(), static_cast<unsigned long long>(download),
        static_cast<unsigned long long>(total), share, current, patched, whole);
  }
}

int Pack(const PackOptions& options) {
  CurrentFeed current = ReadCurrentFeed(options.feed);
  std::vector<ClientFile> files;
  KeyPair pair;
  if (!CheckInputs(options, current, &files, &pair)) {
    Say(L"nothing was written");
    return 1;
  }
  if (!options.patch_tool.empty()) NoteUnpinnedPatchTool(options.patch_tool);
  BlobStore store;
  std::vector<uint64_t> stamps;
  std::vector<std::vector<MadePatch>> patches;
  std::vector<OlderClient> olders;
  int ok = OpenBlobStore(options.feed, &store) && StoreFiles(&store, current.files, &files, &stamps) &&
           MakePatches(options, &store, files, &patches, &olders) && NothingChanged(files, stamps);
  int changed = 0;
  uint64_t serial = 0;
  uint32_t entry = 0;
  size_t new_blobs = store.pending.size();
  if (ok) {
    std::string text = ManifestToPublish(options, current, pair, files, patches, &serial);
    ok = !text.empty() && PublishBlobs(&store);
    ok = ok && KeepHistory(options, store, current.text, text, &entry) && StoreHoldsRelease(store, files, patches);
    ok = ok && PublishManifest(store, current.text, text, &changed);
  }
  memset(pair.private_key, 0, sizeof pair.private_key);
  CloseBlobStore(&store, ok);
  if (!ok) {
    Say(L"the release was not published: manifest.ini is unchanged");
    return 1;
  }
  wchar_t signed_as[128] = L"";
  if (serial != 0 && current.keys.present) {
    CopyInto(config.manifest_path, (options.feed + PATH_SEPARATOR L"manifest.ini").c_str());
    ManifestKeyFields fields = LoadedKeyFields();
    FormatInto(signed_as, L", signed, serial %llu, key version %llu, expires %ls", static_cast<unsigned long long>(serial),
               static_cast<unsigned long long>(fields.key_version), WideAscii(UtcText(fields.expires)).c_str());
  } else if (serial != 0) {
    FormatInto(signed_as, L", signed, serial %llu", static_cast<unsigned long long>(serial));
  }
  wchar_t recorded[64] = L"";
  if (entry != 0) FormatInto(recorded, L", history entry %u", entry);
  Say(L"%ls: %u new blobs, manifest.ini %ls%ls%ls", options.feed.c_str(), static_cast<unsigned>(new_blobs),
      changed ? L"written" : L"unchanged", signed_as, recorded);
  PrintSummary(files, patches, olders);
  return 0;
}
