// The feed's release history and the releases it records.
#include "release/feed_history.h"

#include <string.h>
#include <wchar.h>

#include "app/config.h"
#include "engine/file_table.h"
#include "engine/manifest.h"
#include "engine/plan.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "release/front_end.h"
#include "release/output.h"
#include "release/progress.h"
#include "release/signing.h"
#include "transfer/digest.h"
#include "transfer/fetch.h"

// Entry names: six digits and ".ini".
static const wchar_t kEntryFormat[] = L"%06u.ini";
static const size_t kEntryNameLength = 10;

std::string ReadSmallFile(const std::wstring& path) {
  std::string bytes;
  FileHandle file = OpenForHashing(path.c_str());
  if (file == NO_FILE) return bytes;
  char chunk[65536];
  for (;;) {
    uint32_t got = 0;
    // A read that fails midway gives no text at all: a part of a manifest
    // compared or published as if it were the whole would mislead.
    if (!ReadChunk(file, chunk, sizeof chunk, &got)) {
      bytes.clear();
      break;
    }
    if (got == 0 || bytes.size() >= 4 * 1048576) break;
    bytes.append(chunk, got);
  }
  CloseFile(file);
  return bytes;
}

std::wstring BlobKey(const std::wstring& remote) {
  size_t slash = remote.find_last_of(L"/\\");
  std::wstring name = slash == std::wstring::npos ? remote : remote.substr(slash + 1);
  for (wchar_t& c : name) c = FoldAsciiCase(c);
  return name;
}

int IsDigestName(const wchar_t* name) {
  return IsSha256Hex(name);
}

// Adds a remote path to the release's blobs unless it is there already.
static void AddBlob(ReleaseRecord* release, const wchar_t* remote, const wchar_t* sha256, uint64_t size) {
  for (const NamedBlob& blob : release->blobs) {
    if (blob.remote == remote) return;
  }
  release->blobs.push_back({remote, sha256, size});
}

int ReadRelease(const std::wstring& path, ReleaseRecord* release, std::wstring* why) {
  *release = ReleaseRecord();
  if (!IsRegularFile(path.c_str())) {
    *why = L"missing";
    return 0;
  }
  release->text = ReadSmallFile(path);
  release->is_signed = UnsignedPart(release->text) != release->text;
  CopyInto(config.manifest_path, path.c_str());
  ClearReported();
  // The updater's own steps, in its order: a release it would refuse is no
  // release to keep or to go back to.
  if (!ReadManifestHeader()) {
    *why = L"the updater refuses it: " + QuotedReport();
    return 0;
  }
  wchar_t version[128];
  ReadManifestText(L"release", L"version", version, 128);
  release->version = version;
  if (!ReadManifestNumber(L"release", L"serial", &release->serial)) release->serial = 0;
  if (!ReadManifestNumber(L"release", L"key_version", &release->key_version)) release->key_version = 0;
  wchar_t expires[32];
  ReadManifestText(L"release", L"expires", expires, 32);
  release->expires = expires;
  for (int32_t n = 0; n < entry_count; ++n) {
    wchar_t full[REMOTE_CAPACITY];
    uint32_t patch_count = 0;
    if (!ReadFileEntry(n, full, &patch_count)) {
      *why = L"the updater refuses it: " + QuotedReport();
      return 0;
    }
    const FileEntry& entry = file_table[n];
    ClientFile file;
    file.name = entry.name;
    file.sha256 = entry.sha256;
    file.size = entry.size;
    release->files.push_back(file);
    release->bytes += entry.size;
    AddBlob(release, full, entry.sha256, entry.size);
    std::vector<MadePatch> patches;
    for (uint32_t m = 0; m < patch_count; ++m) {
      PatchSection section;
      if (!ReadValidPatchSection(n, m, &section)) {
        *why = L"the updater refuses it: " + QuotedReport();
        return 0;
      }
      MadePatch patch;
      patch.base_sha256 = section.base_sha256;
      patch.sha256 = section.sha256;
      patch.size = section.size;
      patches.push_back(patch);
      AddBlob(release, section.path, section.sha256, section.size);
    }
    release->patches.push_back(patches);
  }
  return 1;
}

// The manifest text without its signature line and without the lines of
// [release] that a new signature renews.
static std::string ReleaseContent(const std::string& text) {
  std::string body = UnsignedPart(text), out;
  static const char* const kRenewed[] = {"serial=", "key_version=", "signed=", "expires="};
  int in_release = 0;
  size_t at = 0;
  while (at < body.size()) {
    size_t end = body.find('\n', at);
    end = end == std::string::npos ? body.size() : end + 1;
    std::string line = body.substr(at, end - at);
    at = end;
    if (!line.empty() && line[0] == '[') in_release = line.compare(0, 10, "[release]\r") == 0;
    int renewed = 0;
    for (const char* key : kRenewed) {
      if (in_release && line.compare(0, strlen(key), key) == 0) renewed = 1;
    }
    if (!renewed) out += line;
  }
  return out;
}

int SameRelease(const std::string& a, const std::string& b) {
  return a == b || ReleaseContent(a) == ReleaseContent(b);
}

std::wstring HistoryFolder(const std::wstring& feed) {
  return feed + PATH_SEPARATOR L"history";
}

std::wstring HistoryEntryPath(const std::wstring& feed, uint32_t n) {
  wchar_t name[32];
  FormatInto(name, kEntryFormat, n);
  return HistoryFolder(feed) + PATH_SEPARATOR + name;
}

int HasHistory(const std::wstring& feed) {
  uint32_t attributes = FileAttributes(HistoryFolder(feed).c_str());
  return attributes != NO_ATTRIBUTES && (attributes & ATTRIBUTE_FOLDER) &&
         !(attributes & ATTRIBUTE_LINK);
}

// The number of an entry name, 0 for any other name.
static uint32_t EntryNumber(const wchar_t* name) {
  if (wcslen(name) != kEntryNameLength || wcscmp(name + 6, L".ini") != 0) return 0;
  uint32_t n = 0;
  for (int i = 0; i < 6; ++i) {
    if (name[i] < L'0' || name[i] > L'9') return 0;
    n = n * 10 + static_cast<uint32_t>(name[i] - L'0');
  }
  return n;
}

int CountHistory(const std::wstring& feed, uint32_t* count) {
  *count = 0;
  std::wstring folder = HistoryFolder(feed);
  if (!HasHistory(feed)) {
    Problem(L"%ls: no history here (the next pack that publishes a release starts one)", folder.c_str());
    return 0;
  }
  // Only the count and the highest number are kept: the entries are 1 to n
  // exactly when there are n of them, all different, none above n.
  uint32_t entries = 0, highest = 0;
  int ok = 1;
  FolderWalk walk;
  if (!BeginFolderWalk(folder.c_str(), &walk)) {
    EndFolderWalk(&walk);
    Problem(L"%ls: cannot be listed", folder.c_str());
    return 0;
  }
  FolderEntry entry;
  while (NextFolderEntry(&walk, &entry)) {
    uint32_t n = EntryNumber(entry.name);
    if (n == 0 || (entry.attributes & ATTRIBUTE_FOLDER)) {
      Problem(L"%ls" PATH_SEPARATOR L"%ls: no history entry (entries are <6 digits from 000001>.ini files)", folder.c_str(),
              entry.name);
      ok = 0;
      continue;
    }
    ++entries;
    if (n > highest) highest = n;
  }
  EndFolderWalk(&walk);
  if (ok && highest != entries) {
    Problem(L"%ls: %u entries, but the highest is number %u: entries are missing", folder.c_str(), entries, highest);
    ok = 0;
  }
  if (ok) *count = entries;
  return ok;
}

int EnsureHistoryFolder(const std::wstring& feed) {
  if (HasHistory(feed)) return 1;
  if (CreateFolder(HistoryFolder(feed).c_str())) return 1;
  Problem(L"%ls: cannot make this folder", HistoryFolder(feed).c_str());
  return 0;
}

int AddHistoryEntry(const std::wstring& feed, const std::wstring& work, const std::string& text, uint32_t* number) {
  uint32_t count = 0;
  if (!CountHistory(feed, &count)) return 0;
  if (count > 0 && ReadSmallFile(HistoryEntryPath(feed, count)) == text) {
    *number = count;
    return 1;
  }
  if (count >= MAX_HISTORY_ENTRIES) {
    Problem(L"%ls: the history is full (%u entries)", HistoryFolder(feed).c_str(), MAX_HISTORY_ENTRIES);
    return 0;
  }
  std::wstring made = work + PATH_SEPARATOR L"history-entry.ini";
  std::wstring target = HistoryEntryPath(feed, count + 1);
  FileHandle file = CreateNewFile(made.c_str());
  int ok = file != NO_FILE && WriteAll(file, text.data(), static_cast<uint32_t>(text.size())) &&
           FlushFile(file);
  CloseFile(file);
  // A new name only: an entry never changes once written.
  if (ok) ok = MoveToNewPlace(made.c_str(), target.c_str());
  if (!ok) {
    Problem(L"%ls: cannot be written", target.c_str());
    return 0;
  }
  *number = count + 1;
  return 1;
}

// Counts hashed bytes on the progress line.
static int FeedProgress(void*, const void*, uint32_t count) {
  ProgressAdd(count);
  return 1;
}

int HasAllBlobs(const std::wstring& feed, const ReleaseRecord& release, int check_digests,
                std::vector<std::wstring>* missing) {
  int all = 1;
  uint64_t total = 0;
  for (const NamedBlob& blob : release.blobs) total += blob.size;
  if (check_digests) ProgressBegin(L"checking files and patches", total);
  for (const NamedBlob& blob : release.blobs) {
    wchar_t source[PATH_CAPACITY];
    uint64_t size = 0;
    std::wstring fault;
    if (!PackageSourcePath(feed.c_str(), blob.remote.c_str(), source) || !FileSizeFromAttributes(source, &size) ||
        !IsRegularFile(source)) {
      fault = L"missing";
    } else if (size != blob.size) {
      wchar_t text[96];
      FormatInto(text, L"%llu bytes, the release says %llu", static_cast<unsigned long long>(size),
                 static_cast<unsigned long long>(blob.size));
      fault = text;
    } else if (check_digests) {
      wchar_t digest[DIGEST_CAPACITY];
      uint64_t hashed = 0;
      if (!HashFileFeeding(source, digest, &hashed, FeedProgress, nullptr)) {
        fault = L"cannot be read";
      } else if (blob.sha256 != digest) {
        fault = std::wstring(L"its SHA-256 is ") + digest + L", the release says " + blob.sha256;
      }
    }
    if (!fault.empty()) {
      missing->push_back(blob.remote + L": " + fault);
      all = 0;
    }
  }
  if (check_digests) ProgressEnd();
  return all;
}
