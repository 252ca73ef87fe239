// Making the patches of a release: one per older client file whose bytes
// differ, made by the publisher's diff tool and, when a patch tool is given,
// applied once and checked before the patch is listed.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "release/blob_store.h"
#include "release/client_folder.h"
#include "release/options.h"

struct MadePatch {
  std::wstring base_sha256;  // digest of the older file it applies to
  std::wstring sha256;       // digest of the patch itself
  uint64_t size = 0;         // its byte count
};

// What one older client holds of the release: per release file (same
// order), the digest and size of its older file, empty when it has none.
struct OlderClient {
  std::wstring folder;
  std::vector<std::wstring> sha256;   // digest as hashed
  std::vector<uint64_t> size;         // byte count as hashed
  std::vector<uint64_t> written;      // last-write time just before it was hashed
};

// Makes the patches for every --from folder, first folders first: for each
// release file whose older copy differs and whose base has no patch yet,
// while the file has fewer than 32, the diff tool writes a patch; a patch
// not smaller than the whole file is dropped (the updater would never take
// it). New patches go to the store as pending blobs. patches gets one list
// per release file; olders one record per --from folder. 0 after a problem.
// An older file that changed after it was hashed would give its patch a
// wrong base digest: MakePatches ends by checking that none did.
int MakePatches(const PackOptions& options, BlobStore* store, const std::vector<ClientFile>& release,
                std::vector<std::vector<MadePatch>>* patches, std::vector<OlderClient>* olders);

// Applies a patch with the patch tool exactly as the updater does
// ("<tool>" -s-8m "<old>" "<patch>" "<new>", started from folder) into
// rebuilt, a path that must not exist yet, and checks the result's digest
// and size. Returns 1 when it rebuilds the target; otherwise prints a
// problem naming the label and returns 0. rebuilt is deleted either way.
int RebuildsTarget(const std::wstring& patch_tool, const std::wstring& old_file, const std::wstring& patch_file,
                   const std::wstring& rebuilt, const std::wstring& folder, const std::wstring& target_sha256,
                   uint64_t target_size, const std::wstring& label);

// Prints a note when the patch tool is not the build the released updater
// pins: patches it proves may still be right, but players need that build.
void NoteUnpinnedPatchTool(const std::wstring& patch_tool);

// The current folder for the tools the release tool starts: the folder for
// temporary files. Not a folder the tool removes: wine may hold a finished
// child's current folder for a moment, and removing it then fails. Empty
// (the tool's own current folder) when there is none.
std::wstring ToolFolder();
