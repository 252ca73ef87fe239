// Signed feeds with an offline root key: the key record, its rotations,
// the manifest's key fields and the work folder's key records.
#include "engine/key_record.h"

#include <string.h>
#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "engine/manifest.h"
#include "engine/release_time.h"
#include "engine/signature.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/hashing.h"
#include "platform/ini.h"
#include "platform/signing.h"
#include "platform/text.h"
#include "transfer/digest.h"
#include "transfer/fetch.h"

extern const wchar_t KEY_RECORD_MESSAGE[] = L"서명 키 목록이 올바르지 않습니다. 배포 주소를 확인해 주세요.";
extern const wchar_t OLDER_KEY_RECORD_MESSAGE[] =
    L"설치된 버전보다 오래된 서명 키 목록입니다. 배포 주소를 확인해 주세요.";
extern const wchar_t EXPIRED_RELEASE_MESSAGE[] =
    L"배포 정보의 유효 기간이 지났습니다. 컴퓨터의 날짜와 시간을 확인하고 잠시 후 다시 시도해 주세요. "
    L"계속되면 고객 지원에 문의해 주세요.";
extern const wchar_t REVOKED_KEY_MESSAGE[] =
    L"패치 목록의 서명이 더 이상 유효하지 않습니다. 잠시 후 다시 시도하고, 계속되면 고객 지원에 문의해 주세요.";
extern const wchar_t KEY_UPDATING_MESSAGE[] = L"배포 정보가 갱신되는 중입니다. 잠시 후 다시 시도해 주세요.";

// The work folder's records of the key version and the trusted roots.
static const wchar_t kKeyVersionRecord[] = L"key.version";
static const wchar_t kRootsRecord[] = L"root.keys";

// Bytes of one root in the roots record: 128 digits and CR LF.
static const uint32_t kRootLineBytes = 130;

// The record this run accepted, once CheckKeyRecord has.
static KeyRecord run_record;

// The roots this run started from: the recorded or else the pinned ones.
static RootSet run_trusted;

// The record file's bytes while it is verified.
static char record_bytes[KEY_RECORD_LARGEST_BYTES];

int RootedReleases() {
  return RELEASE_ROOT_KEYS[0] != '\0';
}

int DecodeRootKeyList(const char* text, RootSet* roots) {
  roots->count = 0;
  const char* at = text;
  for (;;) {
    if (roots->count == MAX_ROOT_KEYS) return 0;
    char one[129];
    uint32_t length = 0;
    while (at[length] != ',' && at[length] != '\0' && length < 128) {
      one[length] = at[length];
      ++length;
    }
    one[length] = '\0';
    if (!DecodePublicKey(one, roots->keys[roots->count])) return 0;
    roots->count += 1;
    at += length;
    if (*at == '\0') return 1;
    if (*at != ',') return 0;
    ++at;
  }
}

static const char kHexDigits[] = "0123456789abcdef";

// 128 lowercase digits of key at out (no terminator).
static void KeyDigits(const unsigned char key[64], char* out) {
  for (uint32_t i = 0; i < 64; ++i) {
    out[2 * i] = kHexDigits[key[i] >> 4];
    out[2 * i + 1] = kHexDigits[key[i] & 15];
  }
}

int RootRotationDigest(const unsigned char from[64], const unsigned char to[64], unsigned char digest[32]) {
  static const char kHeading[] = "quenfar8 root rotation\n";
  char statement[sizeof kHeading - 1 + 2 * 129];
  memcpy(statement, kHeading, sizeof kHeading - 1);
  char* at = statement + sizeof kHeading - 1;
  KeyDigits(from, at);
  at[128] = '\n';
  KeyDigits(to, at + 129);
  at[257] = '\n';
  Sha256 sha;
  int ok = Sha256Begin(&sha) && Sha256Add(&sha, statement, sizeof statement) && Sha256Finish(&sha, digest);
  Sha256End(&sha);
  return ok;
}

// A key of 128 lowercase digits read from key in section of the INI file
// at path. 0 when missing or of any other form.
static int ReadKeyValue(const wchar_t* path, const wchar_t* section, const wchar_t* key, unsigned char out[64]) {
  // One character more than a key: a longer value is cut to 129 and refused.
  wchar_t text[130];
  ReadIniText(path, section, key, text, 130);
  char narrow[130];
  for (uint32_t i = 0; i < 130; ++i) {
    narrow[i] = text[i] < 128 ? static_cast<char>(text[i]) : '?';
    if (text[i] == L'\0') break;
  }
  return DecodePublicKey(narrow, out);
}

// Reads the whole file at path into record_bytes; its size, 0 when it
// cannot be read or is larger than the record may be.
static uint32_t ReadRecordBytes(const wchar_t* path) {
  uint64_t size = 0;
  if (!FileSizeFromAttributes(path, &size) || size == 0 || size > KEY_RECORD_LARGEST_BYTES) return 0;
  uint32_t total = ReadSmallFile(path, record_bytes, KEY_RECORD_LARGEST_BYTES);
  // A file that changed size while it was read is not the file judged.
  return total == size ? total : 0;
}

// The signature of the record's last line into signature, and the digest
// of every byte before it. 0 when the line is not well formed.
static int SplitRecordSignature(uint32_t size, unsigned char digest[32], unsigned char signature[64]) {
  if (size <= SIGNATURE_LINE_BYTES) return 0;
  uint32_t body = size - SIGNATURE_LINE_BYTES;
  const char* line = record_bytes + body;
  if (memcmp(line, ";signature=", 11) != 0 || line[SIGNATURE_LINE_BYTES - 2] != '\r' ||
      line[SIGNATURE_LINE_BYTES - 1] != '\n' || record_bytes[body - 1] != '\n') {
    return 0;
  }
  char digits[129];
  memcpy(digits, line + 11, 128);
  digits[128] = '\0';
  // DecodePublicKey reads 64 bytes from 128 digits: the signature's r and s.
  if (!DecodePublicKey(digits, signature)) return 0;
  Sha256 sha;
  int ok = Sha256Begin(&sha) && Sha256Add(&sha, record_bytes, body) && Sha256Finish(&sha, digest);
  Sha256End(&sha);
  return ok;
}

// Index of key in roots, or -1.
static int32_t FindRoot(const RootSet* roots, const unsigned char key[64]) {
  for (uint32_t i = 0; i < roots->count; ++i) {
    if (memcmp(roots->keys[i], key, 64) == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

// Takes the record's rotations, oldest first: each one whose "from" is in
// roots and whose signature holds puts its "to" in that root's place. A
// rotation that does not hold is passed over: it gives no trust.
static void TakeRotations(const wchar_t* path, RootSet* roots) {
  for (uint32_t n = 1; n <= MAX_ROOT_ROTATIONS; ++n) {
    wchar_t section[32];
    FormatText(section, 32, L"rotation.%u", n);
    unsigned char from[64], to[64], signature[64], digest[32];
    if (!ReadKeyValue(path, section, L"from", from)) break;
    if (!ReadKeyValue(path, section, L"to", to) || !ReadKeyValue(path, section, L"signature", signature)) continue;
    int32_t at = FindRoot(roots, from);
    if (at < 0 || !RootRotationDigest(from, to, digest) || !VerifyP256Signature(from, digest, signature)) continue;
    memcpy(roots->keys[at], to, 64);
  }
}

// A time of key in section of the INI file at path.
static int ReadTimeValue(const wchar_t* path, const wchar_t* key, uint64_t* seconds) {
  wchar_t text[UTC_TIME_CHARACTERS + 2];
  ReadIniText(path, L"keys", key, text, UTC_TIME_CHARACTERS + 2);
  return ParseUtcTime(text, seconds);
}

KeyRecordFault VerifyKeyRecord(const wchar_t* path, const RootSet* trusted, KeyRecord* record) {
  uint32_t size = ReadRecordBytes(path);
  if (size == 0) return KeyRecordFault::Unreadable;
  unsigned char digest[32], signature[64];
  if (!SplitRecordSignature(size, digest, signature)) return KeyRecordFault::NoLine;
  // Nothing read from the record below gives trust before the signature
  // holds: the rotations only hand over from roots already trusted.
  record->roots = *trusted;
  TakeRotations(path, &record->roots);
  int signed_by_root = 0;
  for (uint32_t i = 0; i < record->roots.count && !signed_by_root; ++i) {
    signed_by_root = VerifyP256Signature(record->roots.keys[i], digest, signature);
  }
  if (!signed_by_root) return KeyRecordFault::NotTrusted;
  wchar_t format[8];
  ReadIniText(path, L"keys", L"format", format, 8);
  wchar_t version[32];
  ReadIniText(path, L"keys", L"version", version, 32);
  if (wcscmp(format, L"1") != 0 || !ParseManifestNumber(version, &record->version) || record->version == 0 ||
      !ReadKeyValue(path, L"keys", L"signing_key", record->signing_key) ||
      !ReadTimeValue(path, L"signed", &record->signed_at) || !ReadTimeValue(path, L"expires", &record->expires) ||
      record->signed_at > record->expires) {
    return KeyRecordFault::Unsupported;
  }
  return KeyRecordFault::None;
}

int ReadManifestKeyFields(uint64_t* key_version, uint64_t* signed_at, uint64_t* expires) {
  wchar_t signed_text[UTC_TIME_CHARACTERS + 2], expires_text[UTC_TIME_CHARACTERS + 2];
  ReadManifestText(L"release", L"signed", signed_text, UTC_TIME_CHARACTERS + 2);
  ReadManifestText(L"release", L"expires", expires_text, UTC_TIME_CHARACTERS + 2);
  return ReadManifestNumber(L"release", L"key_version", key_version) && *key_version != 0 &&
         ParseUtcTime(signed_text, signed_at) && ParseUtcTime(expires_text, expires) && *signed_at <= *expires;
}

// The roots this client trusts: those recorded after a root rotation, or
// else the pinned ones. A record that cannot be read counts as none.
static void TrustedRoots(RootSet* roots) {
  char bytes[MAX_ROOT_KEYS * kRootLineBytes];
  uint32_t size = ReadRecordFile(kRootsRecord, bytes, sizeof bytes);
  if (size != 0 && size % kRootLineBytes == 0) {
    roots->count = 0;
    int ok = 1;
    for (uint32_t at = 0; ok && at < size; at += kRootLineBytes) {
      char digits[129];
      memcpy(digits, bytes + at, 128);
      digits[128] = '\0';
      ok = bytes[at + 128] == '\r' && bytes[at + 129] == '\n' && DecodePublicKey(digits, roots->keys[roots->count]);
      roots->count += 1;
    }
    if (ok) return;
  }
  DecodeRootKeyList(RELEASE_ROOT_KEYS, roots);
}

// Judges the key record fetched to path, as CheckKeyRecord does.
static int JudgeKeyRecord(const wchar_t* path) {
  KeyRecord record;
  if (VerifyKeyRecord(path, &run_trusted, &record) != KeyRecordFault::None) {
    ReportStatus(KEY_RECORD_MESSAGE);
    return 0;
  }
  if (record.version < RecordedNumber(kKeyVersionRecord)) {
    ReportStatus(OLDER_KEY_RECORD_MESSAGE);
    return 0;
  }
  if (!WithinValidity(record.signed_at, record.expires, UtcSecondsNow())) {
    ReportStatus(EXPIRED_RELEASE_MESSAGE);
    return 0;
  }
  run_record = record;
  return 1;
}

// Fetches the key record into the run folder under name and judges it.
static int FetchKeyRecord(const wchar_t* name) {
  wchar_t path[PATH_CAPACITY];
  JoinPath(path, config.run_dir, name);
  // The fetcher reports its own failure.
  if (!FetchFile(L"keys.ini", path, 0)) return 0;
  return JudgeKeyRecord(path);
}

int CheckKeyRecord() {
  TrustedRoots(&run_trusted);
  return FetchKeyRecord(L"keys.ini");
}

// What the manifest copy is, judged against the run's record.
enum class ManifestVerdict {
  Accepted,
  NewerKey,       // it names a key version above the record's
  RetiredKey,     // it names a key version below the record's
  BadSignature,   // not signed by the record's key
  Unsupported,    // signed, but its key fields break their rules
  Expired,        // past its expiry, or signed in the future
};

static ManifestVerdict JudgeRootedManifest() {
  uint64_t key_version = 0, signed_at = 0, expires = 0;
  if (CheckSignedFile(config.manifest_path, run_record.signing_key) != SignatureFault::None) {
    // Read from a manifest whose signature does not hold, the key version
    // only chooses what to say or whether to look at the record again.
    if (!ReadManifestNumber(L"release", L"key_version", &key_version)) return ManifestVerdict::BadSignature;
    if (key_version > run_record.version) return ManifestVerdict::NewerKey;
    if (key_version < run_record.version) return ManifestVerdict::RetiredKey;
    return ManifestVerdict::BadSignature;
  }
  if (!ReadManifestKeyFields(&key_version, &signed_at, &expires)) return ManifestVerdict::Unsupported;
  if (key_version > run_record.version) return ManifestVerdict::NewerKey;
  if (key_version < run_record.version) return ManifestVerdict::RetiredKey;
  if (!WithinValidity(signed_at, expires, UtcSecondsNow())) return ManifestVerdict::Expired;
  return ManifestVerdict::Accepted;
}

int CheckRootedManifest() {
  ManifestVerdict verdict = JudgeRootedManifest();
  // A manifest of a newer key than the record fetched first: the
  // publisher may be between uploading the record and the manifest, so
  // the record is fetched once more before the run gives up.
  if (verdict == ManifestVerdict::NewerKey) {
    if (!FetchKeyRecord(L"keys-again.ini")) return 0;
    verdict = JudgeRootedManifest();
  }
  switch (verdict) {
    case ManifestVerdict::Accepted:
      return 1;
    case ManifestVerdict::NewerKey:
      ReportStatus(KEY_UPDATING_MESSAGE);
      return 0;
    case ManifestVerdict::RetiredKey:
      ReportStatus(REVOKED_KEY_MESSAGE);
      return 0;
    case ManifestVerdict::BadSignature:
      ReportStatus(BAD_SIGNATURE_MESSAGE);
      return 0;
    case ManifestVerdict::Unsupported:
      ReportStatus(UNSUPPORTED_MANIFEST_MESSAGE);
      return 0;
    case ManifestVerdict::Expired:
      ReportStatus(EXPIRED_RELEASE_MESSAGE);
      return 0;
  }
  return 0;
}

void RecordKeyState() {
  WriteRecordedNumber(kKeyVersionRecord, run_record.version);
  int changed = run_record.roots.count != run_trusted.count ||
                memcmp(run_record.roots.keys, run_trusted.keys, run_trusted.count * 64) != 0;
  if (!changed) return;
  char bytes[MAX_ROOT_KEYS * kRootLineBytes];
  for (uint32_t i = 0; i < run_record.roots.count; ++i) {
    KeyDigits(run_record.roots.keys[i], bytes + i * kRootLineBytes);
    bytes[i * kRootLineBytes + 128] = '\r';
    bytes[i * kRootLineBytes + 129] = '\n';
  }
  WriteRecordFile(kRootsRecord, bytes, run_record.roots.count * kRootLineBytes);
}
