// Signed releases: the signature line, the serial and its record.
#include "engine/signature.h"

#include <string.h>
#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "engine/manifest.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/hashing.h"
#include "platform/signing.h"
#include "platform/text.h"
#include "transfer/digest.h"

extern const wchar_t BAD_SIGNATURE_MESSAGE[] = L"패치 목록의 서명이 올바르지 않습니다. 배포 주소를 확인해 주세요.";
extern const wchar_t OLDER_RELEASE_MESSAGE[] = L"설치된 버전보다 오래된 패치 목록입니다. 배포 주소를 확인해 주세요.";

// The serial of this run's manifest, once CheckReleaseSerial accepted it.
static uint64_t run_serial = 0;

// Bytes read per call while the manifest is checked.
static const uint32_t kChunk = 65536;

static const char kLineStart[] = ";signature=";
static const uint32_t kLineStartBytes = 11;

int SignedReleases() {
  return RELEASE_PUBLIC_KEY[0] != '\0';
}

static int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // upper case is no digit here
}

// count bytes from 2 * count lowercase hexadecimal digits; 0 at any other
// character.
static int DecodeHex(const char* hex, uint32_t count, unsigned char* out) {
  for (uint32_t i = 0; i < count; ++i) {
    int high = HexValue(hex[2 * i]);
    int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return 0;
    out[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return 1;
}

int DecodePublicKey(const char* hex, unsigned char key[64]) {
  return strlen(hex) == 128 && DecodeHex(hex, 64, key);
}

// The running state of one pass over a signed file: the hash of the bytes
// before the last line, that line itself, and the byte just before it.
struct SignedFileReader {
  uint64_t body;                       // bytes before the signature line
  uint64_t at;                         // bytes read so far
  char line[SIGNATURE_LINE_BYTES];     // the file's last SIGNATURE_LINE_BYTES bytes
  char before_line;                    // the body's last byte ('\n' when the body is empty)
};

// Hands one chunk to the hash (its part before the line) and to the line.
static int TakeChunk(SignedFileReader* reader, Sha256* sha, const unsigned char* chunk, uint32_t got) {
  for (uint32_t i = 0; i < got;) {
    uint64_t position = reader->at + i;
    if (position < reader->body) {
      uint64_t left = reader->body - position;
      uint32_t take = left < got - i ? static_cast<uint32_t>(left) : got - i;
      if (!Sha256Add(sha, chunk + i, take)) return 0;
      reader->before_line = static_cast<char>(chunk[i + take - 1]);
      i += take;
    } else {
      uint64_t offset = position - reader->body;
      if (offset >= SIGNATURE_LINE_BYTES) return 0;  // the file grew while it was read
      reader->line[offset] = static_cast<char>(chunk[i]);
      ++i;
    }
  }
  reader->at += got;
  return 1;
}

// The line's form: the start, 128 lowercase digits, CR LF; and it begins
// a line of its own.
static int LineIsWellFormed(const SignedFileReader* reader, unsigned char signature[64]) {
  if (memcmp(reader->line, kLineStart, kLineStartBytes) != 0) return 0;
  if (reader->line[SIGNATURE_LINE_BYTES - 2] != '\r' || reader->line[SIGNATURE_LINE_BYTES - 1] != '\n') return 0;
  if (reader->before_line != '\n') return 0;
  return DecodeHex(reader->line + kLineStartBytes, 64, signature);
}

SignatureFault CheckSignedFile(const wchar_t* path, const unsigned char key[64]) {
  uint64_t size = 0;
  if (!FileSizeFromAttributes(path, &size)) return SignatureFault::Unreadable;
  if (size < SIGNATURE_LINE_BYTES) return SignatureFault::NoLine;
  FileHandle file = OpenForHashing(path);
  if (file == NO_FILE) return SignatureFault::Unreadable;
  SignedFileReader reader;
  reader.body = size - SIGNATURE_LINE_BYTES;
  reader.at = 0;
  reader.before_line = '\n';
  unsigned char chunk[kChunk];
  unsigned char digest[32];
  Sha256 sha;
  int ok = Sha256Begin(&sha);
  while (ok) {
    uint32_t got = 0;
    ok = ReadChunk(file, chunk, kChunk, &got);
    if (!ok || got == 0) break;
    ok = TakeChunk(&reader, &sha, chunk, got);
  }
  if (ok) ok = reader.at == size && Sha256Finish(&sha, digest);
  Sha256End(&sha);
  CloseFile(file);
  if (!ok) return SignatureFault::Unreadable;
  unsigned char signature[64];
  if (!LineIsWellFormed(&reader, signature)) return SignatureFault::NoLine;
  if (key == nullptr) return SignatureFault::None;
  return VerifyP256Signature(key, digest, signature) ? SignatureFault::None : SignatureFault::Mismatch;
}

int CheckManifestSignature() {
  unsigned char key[64];
  if (!DecodePublicKey(RELEASE_PUBLIC_KEY, key) ||
      CheckSignedFile(config.manifest_path, key) != SignatureFault::None) {
    ReportStatus(BAD_SIGNATURE_MESSAGE);
    return 0;
  }
  return 1;
}

// A record file of the work folder: .quenfar8-update\<name> in the
// install folder.
static void RecordPath(const wchar_t* name, wchar_t* path) {
  FormatText(path, PATH_CAPACITY, L"%ls" PATH_SEPARATOR L".quenfar8-update" PATH_SEPARATOR L"%ls", config.install_dir, name);
}

uint32_t ReadSmallFile(const wchar_t* path, char* bytes, uint32_t capacity) {
  FileHandle file = OpenForHashing(path);
  if (file == NO_FILE) return 0;
  uint32_t total = 0;
  int ok = 1;
  // Read until the end, or one byte past capacity: a longer file is not
  // taken, cut or otherwise.
  while (ok && total < capacity) {
    uint32_t got = 0;
    ok = ReadChunk(file, bytes + total, capacity - total, &got);
    if (!ok || got == 0) break;
    total += got;
  }
  char extra = 0;
  uint32_t more = 0;
  if (ok && total == capacity) ok = ReadChunk(file, &extra, 1, &more) && more == 0;
  CloseFile(file);
  return ok ? total : 0;
}

uint32_t ReadRecordFile(const wchar_t* name, char* bytes, uint32_t capacity) {
  wchar_t path[PATH_CAPACITY];
  RecordPath(name, path);
  return ReadSmallFile(path, bytes, capacity);
}

uint64_t RecordedNumber(const wchar_t* name) {
  char bytes[31];
  uint32_t got = ReadRecordFile(name, bytes, sizeof bytes);
  if (got == 0) return 0;
  wchar_t text[32];
  for (uint32_t i = 0; i < got; ++i) text[i] = static_cast<unsigned char>(bytes[i]);
  text[got] = L'\0';
  uint64_t number = 0;
  return ParseManifestNumber(text, &number) ? number : 0;
}

int CheckReleaseSerial() {
  uint64_t serial = 0;
  if (!ReadManifestNumber(L"release", L"serial", &serial) || serial == 0) {
    ReportStatus(UNSUPPORTED_MANIFEST_MESSAGE);
    return 0;
  }
  if (serial < RecordedNumber(L"release.serial")) {
    ReportStatus(OLDER_RELEASE_MESSAGE);
    return 0;
  }
  run_serial = serial;
  return 1;
}

void WriteRecordFile(const wchar_t* name, const char* bytes, uint32_t count) {
  wchar_t made[PATH_CAPACITY];
  wchar_t record[PATH_CAPACITY];
  JoinPath(made, config.run_dir, name);
  RecordPath(name, record);
  FileHandle file = CreateNewFile(made);
  if (file == NO_FILE) return;
  int ok = WriteAll(file, bytes, count) && FlushFile(file);
  CloseFile(file);
  if (ok) MoveOverExisting(made, record);
}

void WriteRecordedNumber(const wchar_t* name, uint64_t value) {
  char digits[32];
  int count = 0;
  // Decimal digits, most significant first, without a line end: the number
  // rule reads them back.
  char reversed[32];
  do {
    reversed[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  WriteRecordFile(name, digits, static_cast<uint32_t>(count));
}

void RecordReleaseSerial() {
  WriteRecordedNumber(L"release.serial", run_serial);
}
