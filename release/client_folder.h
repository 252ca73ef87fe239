// The files of a client folder that make a release.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "engine/manifest.h"

struct ClientFile {
  std::wstring name;    // the file's name in the folder, as the manifest will list it
  std::wstring path;    // its full path
  uint64_t size = 0;    // byte count when listed
  std::wstring sha256;  // digest, once hashed
};

// Lists every file directly in a client folder except the updater's own
// (Quenfar8Updater.exe, Quenfar8Updater.ini, hpatchz.exe and the
// .quenfar8-update folder), sorted by name without regard to case. Every
// entry a release cannot hold is printed as a problem, all in one pass:
// subfolders, links, names the updater refuses, names equal but for case,
// sizes over 2^40, more than 128 files, no Quenfar8.exe. 1 when none was.
int ListClientFolder(const std::wstring& folder, std::vector<ClientFile>* files);

// The files of an older client that the release also lists (names equal
// without regard to case, as the file system finds them); everything else
// there is passed over. 0 after a problem when the folder cannot be listed.
int ListOlderClient(const std::wstring& folder, const std::vector<ClientFile>& release,
                    std::vector<ClientFile>* files);

// Ordering of names without regard to ASCII case.
int NameLess(const std::wstring& a, const std::wstring& b);

// A name without regard to ASCII case, for finding names as the updater
// compares them.
std::wstring FoldedName(const std::wstring& name);

// What a name that fails the name rule breaks, for a message.
const wchar_t* DescribeNameFault(NameFault fault);
