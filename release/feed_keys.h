// The feed's key record (keys.ini) as the release tool reads it, and the
// key fields that a manifest of such a feed carries.
//
// The record's form and the way an updater verifies it are in
// engine/key_record.h. The release tool holds no pinned root, so here the
// record is only read; check verifies it with the roots it is given.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "release/key_file.h"
#include "release/manifest_writer.h"
#include "release/options.h"

// A manifest's expiry when none is asked for: 30 days.
constexpr uint32_t DEFAULT_MANIFEST_DAYS = 30;

// Under this many days before an expiry, check warns: 7 days.
constexpr uint32_t EXPIRY_WARNING_DAYS = 7;

// One [rotation.N] of a key record.
struct RootRotation {
  unsigned char from[64];       // the root that hands over
  unsigned char to[64];         // the root that takes its place
  unsigned char signature[64];  // from's signature over the rotation statement
};

// What the feed's keys.ini says, read as written and not verified.
struct FeedKeys {
  int present = 0;                     // keys.ini exists
  std::string text;                    // its bytes
  uint64_t version = 0;                // [keys] version
  unsigned char signing_key[64] = {};  // [keys] signing_key
  uint64_t expires = 0;                // [keys] expires, 0 when unreadable
  std::vector<RootRotation> rotations; // [rotation.1] on, as long as each is whole
};

// Reads the feed folder's keys.ini. 1 when it is missing (present 0) or its
// version and signing key can be read; 0 after a problem has been printed.
int ReadFeedKeys(const std::wstring& feed, FeedKeys* keys);

// 128 lowercase hexadecimal digits of a key or signature.
std::string KeyHex(const unsigned char key[64]);

// ASCII text as wide text, for printing.
std::wstring WideAscii(const std::string& text);

// 1 when path lies inside (or is) folder, compared without regard to case.
int IsWithinFolder(const std::wstring& path, const std::wstring& folder);

// The key fields of a manifest of a feed with a record, signed now under the
// record's version: the expiry asked for, or DEFAULT_MANIFEST_DAYS. A time
// already past is written with a warning (and signed= then equals it, as an
// updater requires signed <= expires, so that the manifest reads as expired
// and not as broken). On a feed without a record: no key fields, and an
// expiry asked for is a problem. 0 after a problem has been printed.
int NewKeyFields(const FeedKeys& keys, const ExpiryOption& expiry, ManifestKeyFields* fields);

// On a feed with a record: 1 when pair is the key the record names, else a
// problem and 0. Always 1 on a feed without one.
int IsRecordSigningKey(const FeedKeys& keys, const KeyPair& pair);

// The key fields of the manifest that config.manifest_path names, as far as
// they can be read (each 0 when it cannot be).
ManifestKeyFields LoadedKeyFields();
