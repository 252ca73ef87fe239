// The feed's release history: history/<n>.ini, an exact copy of every
// manifest.ini that pack (or rollback) published, n counting from 1 and
// written with six digits so that the names sort. An entry is written
// before the manifest's rename and never changes afterwards; it holds only
// what manifest.ini itself held, so it is as public as the manifest.
//
// Every pack that publishes a new manifest and every rollback add an
// entry; a feed packed before the tool kept a history gets one with its
// next new release.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "release/client_folder.h"
#include "release/patches.h"

// Most entries a history holds: six digits.
constexpr uint32_t MAX_HISTORY_ENTRIES = 999999;

// A file or patch a release names: its remote path, digest and size.
struct NamedBlob {
  std::wstring remote;  // "files/<digest>" or "patches/<digest>", as the manifest says
  std::wstring sha256;  // the digest the manifest gives
  uint64_t size = 0;    // the size the manifest gives
};

// One release as its manifest describes it, read with the updater's own
// reader and rules.
struct ReleaseRecord {
  std::string text;                            // the manifest's bytes
  std::wstring version;                        // "version", empty for none
  uint64_t serial = 0;                         // "serial", 0 for none
  uint64_t key_version = 0;                    // "key_version", 0 for none (a feed without a key record)
  std::wstring expires;                        // "expires" as written, empty for none
  int is_signed = 0;                           // it ends with a signature line
  std::vector<ClientFile> files;               // name, sha256 and size of every file, in manifest order
  std::vector<std::vector<MadePatch>> patches; // each file's patches, in manifest order
  std::vector<NamedBlob> blobs;                // every remote path it names, once each
  uint64_t bytes = 0;                          // the files' sizes added up
};

// Reads the manifest at path. 0 when it cannot be read or a player's
// updater would refuse it; *why then says why (nothing is printed).
int ReadRelease(const std::wstring& path, ReleaseRecord* release, std::wstring* why);

// 1 when two manifests publish the same release: equal but for the serial,
// the key fields (key_version, signed, expires) and the signature line,
// which resign renews without a new history entry.
int SameRelease(const std::string& a, const std::string& b);

// The history\ folder of a feed, and the path of entry n in it.
std::wstring HistoryFolder(const std::wstring& feed);
std::wstring HistoryEntryPath(const std::wstring& feed, uint32_t n);

// 1 when the feed has a history\ folder (it keeps a history).
int HasHistory(const std::wstring& feed);

// The numbers of the feed's history: *count entries numbered 1 to *count.
// 0 after a problem has been printed: no history\ folder (when required),
// something in it that is no entry, or a number missing.
int CountHistory(const std::wstring& feed, uint32_t* count);

// The bytes of a small file (a manifest), or an empty text when it cannot
// be read.
std::string ReadSmallFile(const std::wstring& path);

// Makes history\ when it is missing (a history being started). 0 after a
// problem has been printed.
int EnsureHistoryFolder(const std::wstring& feed);

// Adds text as the next entry, unless the newest entry already holds
// exactly these bytes (a publication that was stopped after its entry was
// written, tried again). The entry is written in the work folder, flushed
// and moved to its name, which must be new. *number gets the entry's
// number. 0 after a problem has been printed.
int AddHistoryEntry(const std::wstring& feed, const std::wstring& work, const std::string& text, uint32_t* number);

// 1 when every blob of release is in the feed folder with its size (and,
// with check_digests, its digest); each one that is not is added to
// *missing as "<remote>: <what is wrong>".
int HasAllBlobs(const std::wstring& feed, const ReleaseRecord& release, int check_digests,
                std::vector<std::wstring>* missing);

// The key under which a remote path that a release names protects a blob
// in files\ or patches\: its last part, in lower case. The updater accepts
// paths such as "files/./<digest>" or "files//<digest>" that reach the same
// file as "files/<digest>"; keyed by the file's own name, such a blob counts
// as named whatever the path (at worst a blob of the same name in the other
// folder counts too).
std::wstring BlobKey(const std::wstring& remote);

// 1 for 64 lowercase hexadecimal digits: the name of a blob.
int IsDigestName(const wchar_t* name);
