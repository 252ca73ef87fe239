// File digests and checks, and the path join of the whole program.
//
// Every operation here is silent and re-entrant: they return 1 for yes or
// success and 0 otherwise, and the caller chooses the message.
#pragma once

#include <stddef.h>
#include <stdint.h>

// 1 when something exists at path that is neither a folder nor a reparse
// point (link, junction). Read-only, hidden and system files count.
int IsRegularFile(const wchar_t* path);

// SHA-256 of the file at path as 64 lowercase hexadecimal digits into
// digest (65 characters), and the number of bytes read into *byte_count
// when byte_count is not null. Both outputs are written only on success.
// Fails when the file cannot be opened with read sharing only (so a file
// that another handle holds open for writing fails), or a read or a step
// of the provider fails.
int HashFile(const wchar_t* path, wchar_t* digest, uint64_t* byte_count);

// 1 when path is a regular file of exactly size bytes whose digest text is
// exactly expected_digest. The file is read to its end in every case.
int VerifyFile(const wchar_t* path, const wchar_t* expected_digest, uint64_t size);

// Receives each chunk of a file as it is hashed: count bytes at data.
// Returns 1 to go on, 0 to fail the hash (the release tool writes the
// chunk to a copy and shows progress).
typedef int (*ChunkSink)(void* context, const void* data, uint32_t count);

// HashFile that also hands every chunk read, after hashing it, to sink.
int HashFileFeeding(const wchar_t* path, wchar_t* digest, uint64_t* byte_count, ChunkSink sink, void* context);

// VerifyFile that also hands every chunk read to sink.
int VerifyFileFeeding(const wchar_t* path, const wchar_t* expected_digest, uint64_t size, ChunkSink sink,
                      void* context);

// 1 for exactly 64 characters from '0'-'9' and 'a'-'f'.
int IsSha256Hex(const wchar_t* text);

// "folder\name" into out (1024 characters), cut and terminated when longer.
// Nothing is added, removed or normalised beyond the one backslash.
void JoinPath(wchar_t* out, const wchar_t* folder, const wchar_t* name);
