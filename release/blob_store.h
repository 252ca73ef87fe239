// The feed's blob store: every file once as files/<its sha256>, every patch
// once as patches/<its sha256>. A blob's name is its digest, so a blob that
// exists is never written again: publishing a release never changes a file
// that a client may be fetching.
//
// New blobs are made in a work folder inside the feed folder (so that moving
// them into the store is a rename on one volume) and are moved into the
// store only by PublishBlobs, once the whole release is ready; until then
// the feed is as it was.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct BlobStore {
  std::wstring feed;  // the feed folder
  std::wstring work;  // the work folder inside it, removed by CloseBlobStore
  struct Pending {
    std::wstring made;   // the new blob in the work folder
    std::wstring blob;   // its place in the store
  };
  std::vector<Pending> pending;  // new blobs, in the order they were made
  unsigned made_count = 0;       // names the next file made in the work folder
  std::vector<std::wstring> created;  // folders this pack made, newest last
  void* lock = nullptr;               // the work folder's pack.lock, held open while the folder is in use
};

// The work folders' names begin so: ".quenfar8-pack-<process id>[-<n>]".
extern const wchar_t WORK_FOLDER_PREFIX[];

// 1 when a work folder's pack.lock is held open: a pack, rollback or prune
// of a running process is using it.
int WorkFolderInUse(const std::wstring& folder);

// Deletes the files in a work folder that no process uses, then the folder.
// 0 when something could not be removed (something is left in it).
int RemoveWorkFolder(const std::wstring& folder);

// Creates the feed folder with files\ and patches\ where they are missing,
// and a work folder of this process inside it, with its pack.lock held
// open until CloseBlobStore. 0 after a problem.
int OpenBlobStore(const std::wstring& feed, BlobStore* store);

// A fresh path in the work folder for a file to be made (a patch).
std::wstring WorkPath(BlobStore* store, const wchar_t* kind);

// The store path of a blob: "files/<digest>" or "patches/<digest>" as a
// remote path, and as a full path below the feed folder.
std::wstring RemoteBlobPath(const wchar_t* kind, const std::wstring& digest);
std::wstring StorePath(const BlobStore& store, const wchar_t* kind, const std::wstring& digest);

// The client file's bytes as files/<digest>, hashed and copied in one read;
// sets the file's sha256. A file whose size differs from its listing, or
// that cannot be read, is a problem. When known_digest is not empty (the
// feed's current manifest lists the same name and size, and its blob is
// there), the file is first only hashed: equal digests need no copy.
int StoreClientFile(BlobStore* store, const std::wstring& known_digest, struct ClientFile* file);

// Takes a finished file from the work folder (made by WorkPath) as the
// blob kind/<digest> unless the store already holds it (then the file is
// deleted). 0 after a problem.
int AdoptBlob(BlobStore* store, const wchar_t* kind, const std::wstring& made, const std::wstring& digest,
              uint64_t size);

// The path where the blob's bytes are now: in the store, or still in the
// work folder when it is new.
std::wstring CurrentBlobPath(const BlobStore& store, const wchar_t* kind, const std::wstring& digest);

// Moves every new blob into the store, each written through to the disk.
// 0 after a problem.
int PublishBlobs(BlobStore* store);

// Writes manifest.ini through a temporary name in the work folder, flushed,
// and one rename over the old one. Writes nothing when text equals current
// (the manifest's bytes now); *changed says whether it wrote. 0 after a
// problem.
int PublishManifest(const BlobStore& store, const std::string& current, const std::string& text, int* changed);

// PublishManifest for another file directly in the feed folder (keys.ini).
int PublishFeedFile(const BlobStore& store, const wchar_t* name, const std::string& current, const std::string& text,
                    int* changed);

// Deletes whatever is left in the work folder, and the folder. After a
// failed pack (published 0) it also removes the folders that this pack
// made and that are still empty, so that the feed folder is as it was.
void CloseBlobStore(BlobStore* store, int published);
