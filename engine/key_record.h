// Signed feeds with an offline root key: the key record, rotating signing
// keys and manifests that expire.
//
// An updater built with root keys (RELEASE_ROOT_KEYS) pins one to four
// root public keys. A root key never signs a manifest; it signs the key
// record, keys.ini beside manifest.ini:
//
//   [keys]
//   format=1
//   version=<1 to 2^40, only ever growing>
//   signing_key=<128 hex: the public key that signs manifests>
//   signed=<YYYY-MM-DDTHH:MM:SSZ>
//   expires=<YYYY-MM-DDTHH:MM:SSZ>
//
//   [rotation.1]                  (none to four, oldest first)
//   from=<128 hex: a root>
//   to=<128 hex: the root that replaces it>
//   signature=<128 hex: from's signature over the rotation statement>
//   ;signature=<128 hex>          (the last line, as in a signed manifest)
//
// The last line is a root's signature over every byte before it. Trust
// starts from the client's recorded roots (after a root rotation) or else
// the pinned ones; each rotation whose "from" is trusted and whose
// signature holds puts "to" in its place, and the last line must then
// verify with a trusted root. The manifest's [release] names the record's
// version (key_version=), its own signing time (signed=) and expiry
// (expires=), and is signed by the record's signing key.
//
// An updater built without root keys (the default, or with the single key
// of RELEASE_PUBLIC_KEY) calls none of this.
#pragma once

#include <stdint.h>

// Largest key record the updater reads.
constexpr uint32_t KEY_RECORD_LARGEST_BYTES = 4096;

// Most root keys pinned or trusted at once, and most rotations a record
// carries.
constexpr uint32_t MAX_ROOT_KEYS = 4;
constexpr uint32_t MAX_ROOT_ROTATIONS = 4;

// The pinned roots, as the build passes them in: empty, or one to four
// keys of 128 lowercase hexadecimal digits separated by commas.
extern const char RELEASE_ROOT_KEYS[];

// The messages of the key record's steps.
extern const wchar_t KEY_RECORD_MESSAGE[];        // no valid record signed by a trusted root
extern const wchar_t OLDER_KEY_RECORD_MESSAGE[];  // a key version below the recorded one
extern const wchar_t EXPIRED_RELEASE_MESSAGE[];   // record or manifest past its expiry, or signed in the future
extern const wchar_t REVOKED_KEY_MESSAGE[];       // a manifest of a retired signing key
extern const wchar_t KEY_UPDATING_MESSAGE[];      // a manifest of a key version the feed's record does not hold yet

// A set of root public keys (X then Y, 32 bytes each).
struct RootSet {
  uint32_t count;
  unsigned char keys[MAX_ROOT_KEYS][64];
};

// What a verified key record says.
struct KeyRecord {
  uint64_t version;               // the key version
  unsigned char signing_key[64];  // the public key that signs manifests
  uint64_t signed_at;             // when the record was signed, in seconds since 1970
  uint64_t expires;               // when it expires
  RootSet roots;                  // the trusted roots once the record's rotations are taken
};

// Why a key record does not hold.
enum class KeyRecordFault {
  None,
  Unreadable,   // the file cannot be read, or is larger than KEY_RECORD_LARGEST_BYTES
  NoLine,       // it does not end with a well-formed signature line
  NotTrusted,   // no trusted root (after the rotations) signed it
  Unsupported,  // signed, but [keys] breaks its rules
};

// 1 when the updater was built with root keys.
int RootedReleases();

// Decodes a list of one to MAX_ROOT_KEYS keys of 128 lowercase
// hexadecimal digits separated by commas. 0 for any other text.
int DecodeRootKeyList(const char* text, RootSet* roots);

// The digest a root signs to hand over to another: SHA-256 of
// "quenfar8 root rotation\n<from>\n<to>\n", the keys as 128 lowercase
// hexadecimal digits. 0 when hashing fails.
int RootRotationDigest(const unsigned char from[64], const unsigned char to[64], unsigned char digest[32]);

// Verifies the key record at path against the trusted roots and reads it
// into *record (roots: trusted with the record's rotations taken). Checks
// no time and no version against a client's records.
KeyRecordFault VerifyKeyRecord(const wchar_t* path, const RootSet* trusted, KeyRecord* record);

// The key fields of the run's manifest copy ([release] key_version, signed
// and expires). 0 when any is missing or breaks its rule.
int ReadManifestKeyFields(uint64_t* key_version, uint64_t* signed_at, uint64_t* expires);

// The run's steps with root keys built in, each 0 after reporting its
// message: the record, fetched and judged before the manifest is fetched;
// then the manifest copy's signature by the record's key, its key version
// and its validity, before anything else in it is read.
int CheckKeyRecord();
int CheckRootedManifest();

// After a run that ended with the client current and verified: records the
// key version, and the roots when a rotation changed them, beside the
// serial and in the same way. Silent.
void RecordKeyState();
