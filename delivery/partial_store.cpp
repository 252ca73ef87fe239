// The partial store: entries, their records, continuing and pruning.
#include "delivery/partial_store.h"

#include <wchar.h>

#include "app/config.h"
#include "engine/file_table.h"
#include "engine/manifest.h"
#include "platform/paths.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "transfer/digest.h"
#include "transfer/ranged_fetch.h"

// An entry older than this is discarded: its server may long have changed.
static const int64_t kLongestAgeSeconds = 3 * 86400;

// Room for a record's text: four short lines.
static const uint32_t kRecordRoom = 1024;

// What a record says of its entry.
struct PartialRecord {
  wchar_t remote_path[REMOTE_CAPACITY];
  uint64_t size;
  wchar_t validator[VALIDATOR_CAPACITY];
  int64_t since;  // UTC seconds when the download began at byte 0
};

// The paths of one entry.
struct EntryPaths {
  wchar_t data[PATH_CAPACITY];    // the bytes received
  wchar_t record[PATH_CAPACITY];  // the record beside them
  const wchar_t* remote_path;     // what the manifest names now
  uint64_t size;
};

// The store's folder into out (PATH_CAPACITY characters).
static void StoreFolder(wchar_t* out) {
  FormatText(out, PATH_CAPACITY, L"%ls" PATH_SEPARATOR L".quenfar8-update" PATH_SEPARATOR L"partial", config.install_dir);
}

// The paths of the entry for digest sha256, and what the manifest says of it now.
static void ComposeEntryPaths(const wchar_t* sha256, const wchar_t* remote_path, uint64_t size, EntryPaths* paths) {
  wchar_t folder[PATH_CAPACITY];
  StoreFolder(folder);
  FormatInto(paths->data, L"%ls" PATH_SEPARATOR L"%ls", folder, sha256);
  FormatInto(paths->record, L"%ls" PATH_SEPARATOR L"%ls.rec", folder, sha256);
  paths->remote_path = remote_path;
  paths->size = size;
}

// The value after "key=" on its own line of text, into out; 0 when absent.
static int RecordValue(const wchar_t* text, const wchar_t* key, wchar_t* out, size_t capacity) {
  size_t key_length = wcslen(key);
  for (const wchar_t* line = text; *line != L'\0';) {
    const wchar_t* end = wcschr(line, L'\n');
    size_t length = end != nullptr ? static_cast<size_t>(end - line) : wcslen(line);
    if (length > 0 && line[length - 1] == L'\r') --length;
    if (length > key_length && wcsncmp(line, key, key_length) == 0 && line[key_length] == L'=') {
      size_t value_length = length - key_length - 1;
      if (value_length >= capacity) return 0;
      wcsncpy(out, line + key_length + 1, value_length);
      out[value_length] = L'\0';
      return 1;
    }
    if (end == nullptr) break;
    line = end + 1;
  }
  return 0;
}

// Reads a record: ASCII lines "remote=", "size=", "validator=", "since=".
static int ReadRecord(const wchar_t* path, PartialRecord* record) {
  FileHandle file = OpenForHashing(path);
  if (file == NO_FILE) return 0;
  unsigned char bytes[kRecordRoom];
  uint32_t got = 0;
  int ok = ReadChunk(file, bytes, kRecordRoom, &got);
  CloseFile(file);
  if (!ok || got == 0 || got >= kRecordRoom) return 0;
  wchar_t text[kRecordRoom];
  for (uint32_t i = 0; i < got; ++i) {
    if (bytes[i] == 0 || bytes[i] > 0x7e) return 0;
    text[i] = bytes[i];
  }
  text[got] = L'\0';
  wchar_t size_text[32];
  wchar_t since_text[32];
  if (!RecordValue(text, L"remote", record->remote_path, REMOTE_CAPACITY) ||
      !RecordValue(text, L"size", size_text, 32) || !RecordValue(text, L"since", since_text, 32)) {
    return 0;
  }
  if (!RecordValue(text, L"validator", record->validator, VALIDATOR_CAPACITY)) record->validator[0] = L'\0';
  if (!ParseManifestNumber(size_text, &record->size)) return 0;
  uint64_t since = 0;
  if (!ParseManifestNumber(since_text, &since)) return 0;
  record->since = static_cast<int64_t>(since);
  return 1;
}

// Writes the record of a download that begins at byte 0 now. The old
// record goes first: an entry without a record is discarded, never
// continued with another download's validator.
static int WriteRecord(const EntryPaths* paths, const wchar_t* validator) {
  if (FileAttributes(paths->record) != NO_ATTRIBUTES && !DeleteOneFile(paths->record)) return 0;
  wchar_t text[kRecordRoom];
  FormatInto(text, L"remote=%ls\r\nsize=%llu\r\nvalidator=%ls\r\nsince=%lld\r\n", paths->remote_path,
             static_cast<unsigned long long>(paths->size), validator, static_cast<long long>(UtcSecondsNow()));
  char bytes[kRecordRoom];
  uint32_t count = 0;
  for (; text[count] != L'\0'; ++count) {
    // A validator beyond printable ASCII is not kept; the entry is then
    // continued without If-Range, and the digest still decides.
    bytes[count] = (text[count] >= 0x20 && text[count] <= 0x7e) || text[count] == L'\r' || text[count] == L'\n'
                       ? static_cast<char>(text[count])
                       : '?';
  }
  FileHandle file = CreateNewFile(paths->record);
  if (file == NO_FILE) return 0;
  int ok = WriteAll(file, bytes, count) && FlushFile(file);
  CloseFile(file);
  return ok;
}

// The fetcher's word that the download begins at byte 0.
static int OnFreshStart(void* context, const wchar_t* validator) {
  return WriteRecord(static_cast<const EntryPaths*>(context), validator);
}

// The bytes of a sound entry, its validator into validator; 0 when there is
// nothing to continue.
static uint64_t SoundEntryBytes(const EntryPaths* paths, wchar_t* validator) {
  uint64_t have = 0;
  if (!IsRegularFile(paths->data) || !FileSizeFromAttributes(paths->data, &have)) return 0;
  PartialRecord record;
  if (!ReadRecord(paths->record, &record)) return 0;
  if (wcscmp(record.remote_path, paths->remote_path) != 0 || record.size != paths->size) return 0;
  if (have > paths->size) return 0;
  int64_t age = static_cast<int64_t>(UtcSecondsNow()) - record.since;
  if (age < -86400 || age > kLongestAgeSeconds) return 0;
  CopyText(validator, VALIDATOR_CAPACITY, record.validator);
  return have;
}

uint64_t HeldPartialBytes(const wchar_t* remote_path, const wchar_t* sha256, uint64_t size) {
  EntryPaths paths;
  ComposeEntryPaths(sha256, remote_path, size, &paths);
  wchar_t validator[VALIDATOR_CAPACITY];
  return SoundEntryBytes(&paths, validator);
}

// Removes an entry's data and record; 0 when either stays.
static int DiscardEntry(const EntryPaths* paths) {
  int ok = 1;
  if (FileAttributes(paths->data) != NO_ATTRIBUTES && !DeleteOneFile(paths->data)) ok = 0;
  if (FileAttributes(paths->record) != NO_ATTRIBUTES && !DeleteOneFile(paths->record)) ok = 0;
  return ok;
}

// The store's folder, made when missing; 0 when it is not a real folder.
static int EnsureStoreFolder() {
  wchar_t folder[PATH_CAPACITY];
  StoreFolder(folder);
  uint32_t attributes = FileAttributes(folder);
  if (attributes == NO_ATTRIBUTES) {
    CreateFolder(folder);
    attributes = FileAttributes(folder);
  }
  return attributes != NO_ATTRIBUTES &&
         (attributes & (ATTRIBUTE_FOLDER | ATTRIBUTE_LINK)) == ATTRIBUTE_FOLDER;
}

int FetchThroughStore(const wchar_t* remote_path, const wchar_t* sha256, uint64_t size, const wchar_t* destination,
                      int32_t* continued) {
  *continued = 0;
  // Without a store of its own the download still goes on, straight into
  // its destination.
  if (!EnsureStoreFolder()) return FetchExactly(remote_path, size, destination);
  EntryPaths paths;
  ComposeEntryPaths(sha256, remote_path, size, &paths);
  RangedFile file = {remote_path, size, paths.data, {0}, OnFreshStart, &paths, 0, 0};
  uint64_t have = SoundEntryBytes(&paths, file.validator);
  if (have == 0 && !DiscardEntry(&paths)) return FetchExactly(remote_path, size, destination);
  // An entry that is already complete needs no request: the digest decides.
  if (!FetchRemainder(&file)) return 0;
  *continued = have > 0 && !file.restarted;
  if (!MoveToNewPlace(paths.data, destination)) {
    DiscardEntry(&paths);
    return FetchExactly(remote_path, size, destination);
  }
  DeleteOneFile(paths.record);
  return 1;
}

// 1 when the manifest names digest as a file's or a patch's.
static int NamedByManifest(const wchar_t* digest) {
  for (int32_t n = 0; n < entry_count; ++n) {
    if (wcscmp(file_table[n].sha256, digest) == 0) return 1;
    wchar_t section[64];
    FormatInto(section, L"file.%d", n);
    uint32_t patch_count = 0;
    if (!ReadPatchCount(section, &patch_count)) continue;
    for (uint32_t m = 0; m < patch_count; ++m) {
      wchar_t patch_section[64];
      wchar_t patch_digest[DIGEST_CAPACITY];
      FormatInto(patch_section, L"patch.%d.%u", n, m);
      ReadManifestText(patch_section, L"sha256", patch_digest, DIGEST_CAPACITY);
      if (wcscmp(patch_digest, digest) == 0) return 1;
    }
  }
  return 0;
}

void PrunePartialStore() {
  wchar_t folder[PATH_CAPACITY];
  StoreFolder(folder);
  // Names are gathered first: deleting while the walk goes on could make
  // it skip entries.
  static wchar_t doomed[2 * MAX_FILES][DIGEST_CAPACITY + 8];  // entries to remove, at most a walk's worth
  uint32_t doomed_count = 0;
  FolderWalk walk;
  FolderEntry entry;
  BeginFolderWalk(folder, &walk);
  while (doomed_count < 2 * MAX_FILES && NextFolderEntry(&walk, &entry)) {
    if ((entry.attributes & ATTRIBUTE_FOLDER) != 0) continue;
    wchar_t digest[DIGEST_CAPACITY];
    size_t length = wcslen(entry.name);
    if (length != 64 && !(length == 68 && wcscmp(entry.name + 64, L".rec") == 0)) continue;
    wcsncpy(digest, entry.name, 64);
    digest[64] = L'\0';
    if (!IsSha256Hex(digest) || NamedByManifest(digest)) continue;
    CopyText(doomed[doomed_count++], DIGEST_CAPACITY + 8, entry.name);
  }
  EndFolderWalk(&walk);
  for (uint32_t i = 0; i < doomed_count; ++i) {
    wchar_t path[PATH_CAPACITY];
    JoinPath(path, folder, doomed[i]);
    DeleteOneFile(path);
  }
}
