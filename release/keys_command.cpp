// Writing the feed's key record, in order: read the key files (none may
// lie in the feed folder) and the current record; decide the version and
// which root rotations go on; write and sign the record in the work folder
// and verify it there with the updater's own code; then publish it as the
// manifest is published, by one rename.
#include "release/key_commands.h"

#include <string.h>

#include "app/config.h"
#include "engine/key_record.h"
#include "engine/manifest.h"
#include "platform/paths.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/signing.h"
#include "platform/text.h"
#include "transfer/digest.h"
#include "release/blob_store.h"
#include "release/feed_keys.h"
#include "release/output.h"
#include "release/signing.h"

namespace {

// A record lasts a year unless asked otherwise: it is signed with the
// offline root, which is brought out seldom.
constexpr uint32_t kDefaultRecordDays = 365;

// Reads one of the command's key files, refusing one inside the feed
// folder (it would be published with the next upload). 0 after a problem.
int ReadCommandKey(const std::wstring& feed, const wchar_t* option, const std::wstring& path, KeyPair* pair) {
  if (IsWithinFolder(path, feed)) {
    Problem(L"%ls %ls: the private key lies inside the feed folder; keep it where nothing is published", option,
            path.c_str());
    return 0;
  }
  return ReadKeyFile(path, pair);
}

// The rotations of the current record that the new one carries: all of
// them when they form one chain, each signature holding, that ends at
// root (the root that signs now); else none, with a note.
std::vector<RootRotation> CarriedRotations(const FeedKeys& current, const unsigned char root[64]) {
  std::vector<RootRotation> none;
  if (current.rotations.empty()) return none;
  int chain = 1;
  for (size_t i = 0; i < current.rotations.size() && chain; ++i) {
    const RootRotation& rotation = current.rotations[i];
    unsigned char digest[32];
    chain = RootRotationDigest(rotation.from, rotation.to, digest) &&
            VerifyP256Signature(rotation.from, digest, rotation.signature) &&
            (i == 0 || memcmp(current.rotations[i - 1].to, rotation.from, 64) == 0);
  }
  if (chain && memcmp(current.rotations.back().to, root, 64) == 0) return current.rotations;
  Note(L"keys.ini's root rotations do not lead to this root key: they are left out, and updaters that took them "
       L"refuse a record signed by this root");
  return none;
}

// The record's text before its signature line.
std::string RecordBody(uint64_t version, const unsigned char signing_key[64], uint64_t signed_at, uint64_t expires,
                       const std::vector<RootRotation>& rotations) {
  std::string body = "[keys]\r\nformat=1\r\nversion=" + std::to_string(version) + "\r\nsigning_key=" +
                     KeyHex(signing_key) + "\r\nsigned=" + UtcText(signed_at) + "\r\nexpires=" + UtcText(expires) +
                     "\r\n";
  for (size_t i = 0; i < rotations.size(); ++i) {
    body += "\r\n[rotation." + std::to_string(i + 1) + "]\r\nfrom=" + KeyHex(rotations[i].from) + "\r\nto=" +
            KeyHex(rotations[i].to) + "\r\nsignature=" + KeyHex(rotations[i].signature) + "\r\n";
  }
  return body;
}

// The version the new record takes, by the rules updaters enforce: higher
// than the current one, or equal with the same signing key (a record
// renewed). 0 after a problem.
uint64_t NewVersion(const KeysOptions& options, const FeedKeys& current, const KeyPair& signing) {
  uint64_t version = options.version != 0 ? options.version : current.version + 1;
  if (version > MANIFEST_LARGEST_NUMBER) {
    Problem(L"key version %llu: a key version is at most 2^40", static_cast<unsigned long long>(version));
    return 0;
  }
  if (!current.present) return version;
  if (version < current.version) {
    Problem(L"--version %llu: keys.ini has version %llu, and updaters that recorded it refuse a lower one",
            static_cast<unsigned long long>(version), static_cast<unsigned long long>(current.version));
    return 0;
  }
  if (version == current.version && memcmp(current.signing_key, signing.public_key, 64) != 0) {
    Problem(L"--version %llu: keys.ini names another signing key under this version; a new signing key needs a "
            L"higher version (that is what retires the old one)",
            static_cast<unsigned long long>(version));
    return 0;
  }
  return version;
}

// Verifies the record made at path as an updater that trusts start does,
// and that it says what was meant. 0 after a problem.
int VerifyMadeRecord(const std::wstring& path, const unsigned char start[64], uint64_t version,
                     const unsigned char signing_key[64]) {
  RootSet trusted;
  trusted.count = 1;
  memcpy(trusted.keys[0], start, 64);
  KeyRecord record;
  if (VerifyKeyRecord(path.c_str(), &trusted, &record) != KeyRecordFault::None || record.version != version ||
      memcmp(record.signing_key, signing_key, 64) != 0) {
    Problem(L"the record made does not verify as an updater verifies it (are the key files' two halves one pair?)");
    return 0;
  }
  return 1;
}

// Writes text as a new file at path, flushed. 0 after a problem.
int WriteNewFile(const std::wstring& path, const std::string& text) {
  FileHandle file = CreateNewFile(path.c_str());
  int ok = file != NO_FILE && WriteAll(file, text.data(), static_cast<uint32_t>(text.size())) &&
           FlushFile(file);
  CloseFile(file);
  if (!ok) Problem(L"%ls: cannot be written", path.c_str());
  return ok;
}

// The key version the live manifest names, 0 for none.
uint64_t LiveKeyVersion(const std::wstring& feed) {
  std::wstring path = feed + PATH_SEPARATOR L"manifest.ini";
  if (!IsRegularFile(path.c_str())) return 0;
  CopyInto(config.manifest_path, path.c_str());
  return LoadedKeyFields().key_version;
}

// Clears the private halves of the command's keys.
void Forget(KeyPair* root, KeyPair* signing, KeyPair* new_root) {
  memset(root->private_key, 0, sizeof root->private_key);
  memset(signing->private_key, 0, sizeof signing->private_key);
  memset(new_root->private_key, 0, sizeof new_root->private_key);
}

}  // namespace

int WriteKeys(const KeysOptions& options) {
  KeyPair root, signing, new_root;
  memset(&new_root, 0, sizeof new_root);
  int ok = ReadCommandKey(options.feed, L"--root-key", options.root_key, &root);
  ok = ReadCommandKey(options.feed, L"--signing-key", options.signing_key, &signing) && ok;
  int rotating = !options.new_root.empty();
  if (rotating) ok = ReadCommandKey(options.feed, L"--new-root", options.new_root, &new_root) && ok;
  if (ok && memcmp(root.public_key, signing.public_key, 64) == 0) {
    Problem(L"the signing key is the root key: a root key stays offline and signs only the key record; make a "
            L"signing key of its own with keygen");
    ok = 0;
  }
  if (ok && rotating && memcmp(new_root.public_key, root.public_key, 64) == 0) {
    Problem(L"--new-root is the root key itself; a rotation hands over to another key");
    ok = 0;
  }
  if (ok && rotating && memcmp(new_root.public_key, signing.public_key, 64) == 0) {
    Problem(L"--new-root is the signing key: a root key stays offline and signs only the key record");
    ok = 0;
  }
  FeedKeys current;
  if (ok && !ReadFeedKeys(options.feed, &current)) {
    Problem(L"keys.ini cannot be read: move it away, and give --version above every version published before");
    ok = 0;
  }
  uint64_t version = ok ? NewVersion(options, current, signing) : 0;
  if (version == 0) {
    Forget(&root, &signing, &new_root);
    Say(L"nothing was written");
    return 1;
  }
  std::vector<RootRotation> rotations = CarriedRotations(current, root.public_key);
  const KeyPair* signer = &root;
  if (rotating) {
    RootRotation rotation;
    memcpy(rotation.from, root.public_key, 64);
    memcpy(rotation.to, new_root.public_key, 64);
    unsigned char digest[32];
    if (!RootRotationDigest(rotation.from, rotation.to, digest) ||
        !SignP256Digest(root.public_key, root.private_key, digest, rotation.signature)) {
      ok = 0;
    }
    rotations.push_back(rotation);
    // Updaters read at most four; the oldest hand-over goes first.
    if (rotations.size() > MAX_ROOT_ROTATIONS) rotations.erase(rotations.begin());
    signer = &new_root;
  }
  uint64_t now = UtcSecondsNow();
  uint64_t expires = now + 86400ULL * (options.expires_days != 0 ? options.expires_days : kDefaultRecordDays);
  std::string text;
  if (ok) text = SignedManifest(RecordBody(version, signing.public_key, now, expires, rotations), *signer);
  Forget(&root, &signing, &new_root);
  if (text.empty()) {
    Problem(L"the key record cannot be signed");
    Say(L"nothing was written");
    return 1;
  }
  if (text.size() > KEY_RECORD_LARGEST_BYTES) {
    Problem(L"the record is %u bytes; updaters read at most %u", static_cast<unsigned>(text.size()),
            KEY_RECORD_LARGEST_BYTES);
    Say(L"nothing was written");
    return 1;
  }
  // The updater's trust starts at the oldest root of the chain (the pinned
  // one), or at this root when there is no chain.
  const unsigned char* start = rotations.empty() ? root.public_key : rotations.front().from;
  BlobStore store;
  int changed = 0;
  std::wstring made;
  ok = OpenBlobStore(options.feed, &store);
  if (ok) {
    made = store.work + PATH_SEPARATOR L"keys-made.ini";
    ok = WriteNewFile(made, text) && VerifyMadeRecord(made, start, version, signing.public_key) &&
         PublishFeedFile(store, L"keys.ini", current.text, text, &changed);
  }
  CloseBlobStore(&store, ok);
  if (!ok) {
    Say(L"keys.ini was not written");
    return 1;
  }
  Say(L"%ls" PATH_SEPARATOR L"keys.ini written: key version %llu, signing key %ls, expires %ls", options.feed.c_str(),
      static_cast<unsigned long long>(version), WideAscii(KeyHex(signing.public_key)).c_str(),
      WideAscii(UtcText(expires)).c_str());
  if (rotating) {
    Say(L"root rotation: %ls hands over to %ls; the record is signed by both", WideAscii(KeyHex(root.public_key)).c_str(),
        WideAscii(KeyHex(new_root.public_key)).c_str());
  }
  uint64_t live = LiveKeyVersion(options.feed);
  if (live != 0 && live != version) {
    Note(L"manifest.ini names key version %llu: updaters that read this record refuse it until it is signed under "
         L"version %llu (resign <feed> --sign <signing key>); upload keys.ini first, then manifest.ini",
         static_cast<unsigned long long>(live), static_cast<unsigned long long>(version));
  }
  return 0;
}
