// Digests and file checks.
#include "transfer/digest.h"

#include <wchar.h>

#include "app/config.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/hashing.h"
#include "platform/text.h"

// Attribute bits that make a path something other than a plain file.
static const uint32_t kNotPlainFile = ATTRIBUTE_FOLDER | ATTRIBUTE_LINK;

// Bytes read per call while hashing.
static const uint32_t kHashChunk = 65536;

int IsRegularFile(const wchar_t* path) {
  uint32_t attributes = FileAttributes(path);
  if (attributes == NO_ATTRIBUTES) return 0;
  return (attributes & kNotPlainFile) == 0 ? 1 : 0;
}

// Reads the open file to its end into the digest; *count gets the bytes
// read. Each chunk goes to sink, when there is one, after it is hashed.
static int HashOpenFile(FileHandle file, unsigned char digest[32], uint64_t* count, ChunkSink sink, void* context) {
  unsigned char chunk[kHashChunk];
  Sha256 sha;
  int ok = Sha256Begin(&sha);
  uint64_t total = 0;
  while (ok) {
    uint32_t got = 0;
    if (!ReadChunk(file, chunk, kHashChunk, &got)) {
      ok = 0;
      break;
    }
    if (got == 0) break;
    total += got;
    ok = Sha256Add(&sha, chunk, got);
    if (ok && sink != nullptr) ok = sink(context, chunk, got);
  }
  if (ok) ok = Sha256Finish(&sha, digest);
  Sha256End(&sha);
  if (ok) *count = total;
  return ok;
}

int HashFileFeeding(const wchar_t* path, wchar_t* digest, uint64_t* byte_count, ChunkSink sink, void* context) {
  FileHandle file = OpenForHashing(path);
  if (file == NO_FILE) return 0;
  unsigned char bytes[32];
  uint64_t count = 0;
  int ok = HashOpenFile(file, bytes, &count, sink, context);
  CloseFile(file);
  if (!ok) return 0;
  for (int i = 0; i < 32; ++i) FormatText(digest + 2 * i, 3, L"%02x", bytes[i]);
  digest[64] = L'\0';
  if (byte_count != nullptr) *byte_count = count;
  return 1;
}

int HashFile(const wchar_t* path, wchar_t* digest, uint64_t* byte_count) {
  return HashFileFeeding(path, digest, byte_count, nullptr, nullptr);
}

int VerifyFileFeeding(const wchar_t* path, const wchar_t* expected_digest, uint64_t size, ChunkSink sink,
                      void* context) {
  if (!IsRegularFile(path)) return 0;
  wchar_t digest[DIGEST_CAPACITY];
  uint64_t count = 0;
  if (!HashFileFeeding(path, digest, &count, sink, context)) return 0;
  if (count != size) return 0;
  return wcscmp(digest, expected_digest) == 0 ? 1 : 0;
}

int VerifyFile(const wchar_t* path, const wchar_t* expected_digest, uint64_t size) {
  return VerifyFileFeeding(path, expected_digest, size, nullptr, nullptr);
}

int IsSha256Hex(const wchar_t* text) {
  if (wcslen(text) != 64) return 0;
  for (int i = 0; i < 64; ++i) {
    wchar_t c = text[i];
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return 0;
  }
  return 1;
}

void JoinPath(wchar_t* out, const wchar_t* folder, const wchar_t* name) {
  FormatText(out, PATH_CAPACITY, L"%ls" PATH_SEPARATOR L"%ls", folder, name);
}
