// Files and folders: the system's file services, each with the exact
// access, sharing and creation flags that its one use in the program needs
// (platform/win/files.cpp over kernel32, platform/posix/files.cpp over the
// POSIX calls).
//
// A FileHandle is opaque to the callers; NO_FILE means "none". Every open
// here is paired with CloseFile by the caller on every path.
//
// In test builds every wrapper that changes the file system (folder
// creation and removal, the creating opens, write, flush, copy, replace,
// move, delete)
// is also a numbered change point at which a test can end the process; see
// files.cpp.
#pragma once

#include <stdint.h>

// An open file: a kernel32 FileHandle on Windows, a descriptor on POSIX.
using FileHandle = void*;
// "No file": INVALID_HANDLE_VALUE's bits on Windows, descriptor -1 on POSIX.
static FileHandle const NO_FILE = reinterpret_cast<FileHandle>(static_cast<intptr_t>(-1));

// The attribute bits the program looks at, with Windows' values (the
// Windows layer hands its bits through unchanged; the POSIX layer makes
// them from lstat).
static const uint32_t NO_ATTRIBUTES = 0xFFFFFFFFu;    // the attributes cannot be read
static const uint32_t ATTRIBUTE_FOLDER = 0x10u;       // a folder
static const uint32_t ATTRIBUTE_LINK = 0x400u;        // a reparse point on Windows, a symbolic link on POSIX

// Attribute bits of path, or NO_ATTRIBUTES when they cannot be
// read (absent, unreachable, not accessible).
uint32_t FileAttributes(const wchar_t* path);

// Size of path from its attributes at the standard information level,
// without opening it. 0 when the attributes cannot be read.
int FileSizeFromAttributes(const wchar_t* path, uint64_t* size);

// Creates one folder (no security attributes). 0 when it exists already or
// cannot be made.
int CreateFolder(const wchar_t* path);

// Read access, readers may share, sequential-scan hint: for hashing. Writers
// and deleters are kept out while the handle is open.
FileHandle OpenForHashing(const wchar_t* path);

// Read and write, no sharing, opened or created: the single-updater lock.
FileHandle OpenLockFile(const wchar_t* path);

// Write access, readers may share, must not exist yet: the run's log.
FileHandle CreateLogFile(const wchar_t* path);

// Write access, no sharing, must not exist yet: a download destination.
FileHandle CreateNewFile(const wchar_t* path);

// Write access, no sharing, opened when it exists and created when it does
// not, positioned at its end: a partial download that goes on. *size gets
// the bytes it already holds.
FileHandle OpenForAppending(const wchar_t* path, uint64_t* size);

// Read and write, no sharing, must exist: proves that no other program
// holds the file. The caller closes it at once.
FileHandle OpenExclusive(const wchar_t* path);

// Reads up to room bytes; *got receives the count (0 at the end). 0 when
// the read itself fails.
int ReadChunk(FileHandle file, void* buffer, uint32_t room, uint32_t* got);

// Writes count bytes at the file's current position. 0 when the call fails
// or writes fewer bytes.
int WriteAll(FileHandle file, const void* data, uint32_t count);

// Forces written data to the disk.
int FlushFile(FileHandle file);

// Closes a handle from this file; an invalid handle is ignored.
void CloseFile(FileHandle file);

// Copies source to a destination that must not exist yet.
int CopyToNewFile(const wchar_t* source, const wchar_t* destination);

// Replaces target with replacement, keeping the previous target at backup
// (ReplaceFileW, flags 0).
int ReplaceKeepingBackup(const wchar_t* target, const wchar_t* replacement, const wchar_t* backup);

// Renames source (a file or a folder) to a destination that must not
// exist, written through to the disk before it returns. Never copies
// across volumes.
int MoveToNewPlace(const wchar_t* source, const wchar_t* destination);

// Renames source onto destination, replacing what is there, written through.
int MoveOverExisting(const wchar_t* source, const wchar_t* destination);

// Deletes one file.
int DeleteOneFile(const wchar_t* path);

// Resolves path against the current folder into out (capacity characters)
// without looking at the disk. 0 when it cannot be resolved or the full
// path needs capacity characters or more.
int ResolveFullPath(const wchar_t* path, wchar_t* out, uint32_t capacity);

// Bytes free for the calling user on the volume that holds folder.
int FreeBytesForUser(const wchar_t* folder, uint64_t* free_bytes);

// Size and last-write time of path from its attributes, without opening it.
// The release tool compares them before and after it reads a file, to
// notice a file that changed meanwhile. 0 when they cannot be read.
int FileStamp(const wchar_t* path, uint64_t* size, uint64_t* write_time);

// Removes an empty folder. 0 when it is not empty or cannot be removed.
int RemoveEmptyFolder(const wchar_t* path);

// The user's folder for temporary files into out (capacity characters),
// without a trailing backslash. 0 when it cannot be found or does not fit.
int TemporaryFolder(wchar_t* out, uint32_t capacity);
