// The content-addressed blob store of a feed folder.
#include "release/blob_store.h"

#include <wchar.h>

#include "app/config.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/processes.h"
#include "platform/text.h"
#include "release/client_folder.h"
#include "release/output.h"
#include "release/progress.h"
#include "transfer/digest.h"

static int EnsureFolder(BlobStore* store, const std::wstring& path) {
  if (CreateFolder(path.c_str())) {
    store->created.push_back(path);
    return 1;
  }
  uint32_t attributes = FileAttributes(path.c_str());
  if (attributes != NO_ATTRIBUTES && (attributes & ATTRIBUTE_FOLDER) &&
      !(attributes & ATTRIBUTE_LINK)) {
    return 1;
  }
  Problem(L"%ls: cannot make this folder", path.c_str());
  return 0;
}

const wchar_t WORK_FOLDER_PREFIX[] = L".quenfar8-pack-";

// The lock file inside every work folder.
static std::wstring LockPath(const std::wstring& folder) {
  return folder + PATH_SEPARATOR L"pack.lock";
}

int WorkFolderInUse(const std::wstring& folder) {
  std::wstring lock = LockPath(folder);
  if (!IsRegularFile(lock.c_str())) return 0;
  // Opened without sharing by its owner: any other open fails while it runs.
  FileHandle probe = OpenExclusive(lock.c_str());
  if (probe == NO_FILE) return 1;
  CloseFile(probe);
  return 0;
}

int RemoveWorkFolder(const std::wstring& folder) {
  std::vector<std::wstring> left;
  FolderWalk walk;
  if (BeginFolderWalk(folder.c_str(), &walk)) {
    FolderEntry entry;
    while (NextFolderEntry(&walk, &entry)) left.push_back(folder + PATH_SEPARATOR + entry.name);
  }
  EndFolderWalk(&walk);
  for (const std::wstring& path : left) DeleteOneFile(path.c_str());
  return RemoveEmptyFolder(folder.c_str());
}

// A pack that was killed leaves its work folder, with copies of client
// files, in the feed folder: it must not be uploaded.
static void NoteLeftWorkFolders(const std::wstring& feed) {
  FolderWalk walk;
  if (BeginFolderWalk(feed.c_str(), &walk)) {
    FolderEntry entry;
    while (NextFolderEntry(&walk, &entry)) {
      if (wcsncmp(entry.name, WORK_FOLDER_PREFIX, wcslen(WORK_FOLDER_PREFIX)) != 0) continue;
      if (WorkFolderInUse(feed + PATH_SEPARATOR + entry.name)) {
        Note(L"%ls" PATH_SEPARATOR L"%ls: another pack or rollback is at work on this feed; never upload its work folder",
             feed.c_str(), entry.name);
      } else {
        Note(L"%ls" PATH_SEPARATOR L"%ls: left by a pack that was interrupted; remove it (prune does), and never upload it",
             feed.c_str(), entry.name);
      }
    }
  }
  EndFolderWalk(&walk);
}

int OpenBlobStore(const std::wstring& feed, BlobStore* store) {
  store->feed = feed;
  if (!EnsureFolder(store, feed) || !EnsureFolder(store, feed + PATH_SEPARATOR L"files") ||
      !EnsureFolder(store, feed + PATH_SEPARATOR L"patches")) {
    return 0;
  }
  NoteLeftWorkFolders(feed);
  // Named after the process, and after a counter too when an interrupted
  // pack of an earlier process with the same id left its folder.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    wchar_t name[64];
    FormatInto(name, attempt == 0 ? L".quenfar8-pack-%lu" : L".quenfar8-pack-%lu-%u",
               static_cast<unsigned long>(CurrentProcessId()), attempt);
    std::wstring work = feed + PATH_SEPARATOR + name;
    if (CreateFolder(work.c_str())) {
      store->work = work;
      FileHandle lock = OpenLockFile(LockPath(work).c_str());
      if (lock == NO_FILE) {
        Problem(L"%ls: cannot make a lock file in it", work.c_str());
        return 0;
      }
      store->lock = lock;
      return 1;
    }
  }
  Problem(L"%ls: cannot make a work folder in it", feed.c_str());
  return 0;
}

std::wstring WorkPath(BlobStore* store, const wchar_t* kind) {
  wchar_t name[64];
  FormatInto(name, L"%ls-%u", kind, store->made_count++);
  return store->work + PATH_SEPARATOR + name;
}

std::wstring RemoteBlobPath(const wchar_t* kind, const std::wstring& digest) {
  return std::wstring(kind) + L"/" + digest;
}

std::wstring StorePath(const BlobStore& store, const wchar_t* kind, const std::wstring& digest) {
  return store.feed + PATH_SEPARATOR + kind + PATH_SEPARATOR + digest;
}

std::wstring CurrentBlobPath(const BlobStore& store, const wchar_t* kind, const std::wstring& digest) {
  std::wstring blob = StorePath(store, kind, digest);
  for (const BlobStore::Pending& pending : store.pending) {
    if (pending.blob == blob) return pending.made;
  }
  return blob;
}

// 1 when the store (or the pending list) holds the blob already. A blob in
// the store with another size is damaged: a problem, and 0 with *bad set.
static int HasBlob(const BlobStore& store, const std::wstring& blob, uint64_t size, int* bad) {
  *bad = 0;
  for (const BlobStore::Pending& pending : store.pending) {
    if (pending.blob == blob) return 1;
  }
  uint64_t found = 0;
  if (!FileSizeFromAttributes(blob.c_str(), &found)) return 0;
  if (!IsRegularFile(blob.c_str()) || found != size) {
    Problem(L"%ls: already in the store but not %llu bytes; the store is damaged: remove this file and pack again",
            blob.c_str(), static_cast<unsigned long long>(size));
    *bad = 1;
    return 0;
  }
  return 1;
}

int AdoptBlob(BlobStore* store, const wchar_t* kind, const std::wstring& made, const std::wstring& digest,
              uint64_t size) {
  std::wstring blob = StorePath(*store, kind, digest);
  int bad = 0;
  if (HasBlob(*store, blob, size, &bad)) {
    DeleteOneFile(made.c_str());
    return 1;
  }
  if (bad) return 0;
  store->pending.push_back({made, blob});
  return 1;
}

// Where the one read of a client file goes besides the digest: the copy
// (when there is one) and the progress line.
struct CopySink {
  FileHandle copy;  // the new blob being written; invalid for a hash-only pass
};

static int FeedCopy(void* context, const void* data, uint32_t count) {
  CopySink* sink = static_cast<CopySink*>(context);
  ProgressAdd(count);
  return sink->copy == NO_FILE ? 1 : WriteAll(sink->copy, data, count);
}

// One read of the file: its digest and byte count, and the copy at made
// when made is not empty (flushed before it is closed).
static int ReadClientFile(const ClientFile& file, const std::wstring& made, std::wstring* digest, uint64_t* count) {
  CopySink sink = {NO_FILE};
  if (!made.empty()) {
    sink.copy = CreateNewFile(made.c_str());
    if (sink.copy == NO_FILE) {
      Problem(L"%ls: cannot write in the work folder", made.c_str());
      return 0;
    }
  }
  wchar_t text[DIGEST_CAPACITY];
  int ok = HashFileFeeding(file.path.c_str(), text, count, FeedCopy, &sink);
  if (ok && sink.copy != NO_FILE) ok = FlushFile(sink.copy);
  CloseFile(sink.copy);
  if (!ok) {
    if (!made.empty()) DeleteOneFile(made.c_str());
    Problem(L"%ls: cannot be read (is another program writing it?), or its copy cannot be written", file.name.c_str());
    return 0;
  }
  *digest = text;
  return 1;
}

int StoreClientFile(BlobStore* store, const std::wstring& known_digest, ClientFile* file) {
  std::wstring digest;
  uint64_t count = 0;
  if (!known_digest.empty()) {
    if (!ReadClientFile(*file, L"", &digest, &count)) return 0;
    if (count == file->size && digest == known_digest) {
      file->sha256 = digest;
      return 1;
    }
  }
  std::wstring made = WorkPath(store, L"file");
  if (!ReadClientFile(*file, made, &digest, &count)) return 0;
  if (count != file->size) {
    DeleteOneFile(made.c_str());
    Problem(L"%ls: changed while it was packed (%llu bytes when listed, %llu when read)", file->name.c_str(),
            static_cast<unsigned long long>(file->size), static_cast<unsigned long long>(count));
    return 0;
  }
  file->sha256 = digest;
  return AdoptBlob(store, L"files", made, digest, count);
}

int PublishBlobs(BlobStore* store) {
  for (const BlobStore::Pending& pending : store->pending) {
    if (!MoveToNewPlace(pending.made.c_str(), pending.blob.c_str())) {
      Problem(L"%ls: cannot move the new blob into the store", pending.blob.c_str());
      return 0;
    }
  }
  store->pending.clear();
  return 1;
}

int PublishManifest(const BlobStore& store, const std::string& current, const std::string& text, int* changed) {
  return PublishFeedFile(store, L"manifest.ini", current, text, changed);
}

int PublishFeedFile(const BlobStore& store, const wchar_t* name, const std::string& current, const std::string& text,
                    int* changed) {
  std::wstring target = store.feed + PATH_SEPARATOR + name;
  *changed = current != text;
  if (!*changed) return 1;
  std::wstring made = store.work + PATH_SEPARATOR + name;
  FileHandle file = CreateNewFile(made.c_str());
  int ok = file != NO_FILE && WriteAll(file, text.data(), static_cast<uint32_t>(text.size())) &&
           FlushFile(file);
  CloseFile(file);
  if (ok) ok = MoveOverExisting(made.c_str(), target.c_str());
  if (!ok) Problem(L"%ls: cannot be written", target.c_str());
  return ok;
}

void CloseBlobStore(BlobStore* store, int published) {
  if (store->lock != nullptr) {
    CloseFile(static_cast<FileHandle>(store->lock));
    store->lock = nullptr;
  }
  if (!store->work.empty()) RemoveWorkFolder(store->work);
  store->work.clear();
  store->pending.clear();
  if (!published) {
    // The work folder lay inside the folders made for this pack, newest last.
    for (auto folder = store->created.rbegin(); folder != store->created.rend(); ++folder) {
      RemoveEmptyFolder(folder->c_str());
    }
  }
}
