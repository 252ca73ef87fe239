// Files and folders over the POSIX calls.
//
// Windows' sharing rules are kept where the program relies on them: a file
// opened for writing, the lock file and the exclusive probe take an
// exclusive flock, so that a second such open (in this process or another)
// fails as Windows' share mode 0 makes it fail. Renames are written
// through by an fsync of the folders they touch: a manifest renamed over
// the live one is on the disk, with its name, when the call returns.
#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <wchar.h>

#include "platform/posix/attributes.h"
#include "platform/posix/utf8.h"

static FileHandle HandleOf(int fd) {
  return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd));
}

static int DescriptorOf(FileHandle file) {
  return static_cast<int>(reinterpret_cast<intptr_t>(file));
}

#ifdef UPDATER_TEST_SEAMS
// Test builds only: every wrapper here that changes the file system is a
// numbered change point, counted from 1 in the order the process reaches
// them, as in the Windows layer. Two variables, read at the first point:
//   QUENFAR8_TEST_DIE_AT=<n>        the process ends itself, at once and
//                                   with no cleanup, just before point n is
//                                   made (exit code 86)
//   QUENFAR8_TEST_CHANGE_LOG=<file> one UTF-8 line per point is appended
//                                   to <file>: "<n> <operation> <subject>"
// The record is written straight through the system calls and is not
// itself a point.

static const int kDiedAtPointExitCode = 86;

static int seam_ready = 0;                        // the variables below have been read
static unsigned long points_reached = 0;          // change points reached so far
static unsigned long die_at = 0;                  // the point not to be made; 0: none
static const char* change_log = nullptr;          // where points are recorded; null: nowhere

// What each open descriptor of this file names, so that writes and
// flushes can be recorded with their file.
struct NamedDescriptor {
  int fd;
  char path[POSIX_PATH_ROOM];
};
static NamedDescriptor named_descriptors[8] = {{-1, ""}, {-1, ""}, {-1, ""}, {-1, ""},
                                               {-1, ""}, {-1, ""}, {-1, ""}, {-1, ""}};

static void ReadSeamVariables() {
  const char* text = getenv("QUENFAR8_TEST_DIE_AT");
  if (text != nullptr) die_at = strtoul(text, nullptr, 10);
  change_log = getenv("QUENFAR8_TEST_CHANGE_LOG");
  seam_ready = 1;
}

static void NameDescriptor(FileHandle file, const wchar_t* path) {
  if (file == NO_FILE) return;
  for (NamedDescriptor& named : named_descriptors) {
    if (named.fd < 0) {
      if (!SystemPath(path, named.path)) strcpy(named.path, "(unnamed)");
      named.fd = DescriptorOf(file);
      return;
    }
  }
}

static void ForgetDescriptor(FileHandle file) {
  for (NamedDescriptor& named : named_descriptors) {
    if (named.fd == DescriptorOf(file)) named.fd = -1;
  }
}

static const char* DescriptorName(FileHandle file) {
  for (const NamedDescriptor& named : named_descriptors) {
    if (named.fd >= 0 && named.fd == DescriptorOf(file)) return named.path;
  }
  return "(unnamed handle)";
}

static void RecordPoint(unsigned long point, const char* operation, const char* subject) {
  char line[POSIX_PATH_ROOM + 64];
  int length = snprintf(line, sizeof line, "%lu %s %s\r\n", point, operation, subject);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof line) return;
  int fd = open(change_log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;
  ssize_t written = write(fd, line, static_cast<size_t>(length));
  (void)written;
  close(fd);
}

static void ChangePointNamed(const char* operation, const char* subject) {
  if (!seam_ready) ReadSeamVariables();
  unsigned long point = ++points_reached;
  if (change_log != nullptr && change_log[0] != '\0') RecordPoint(point, operation, subject);
  // Ends the process at once: nothing is closed, flushed or removed by the
  // program. Does not return.
  if (die_at != 0 && point == die_at) _exit(kDiedAtPointExitCode);
}

static void ChangePoint(const char* operation, const wchar_t* subject) {
  char name[POSIX_PATH_ROOM];
  ChangePointNamed(operation, SystemPath(subject, name) ? name : "(unnamed)");
}
#else
// The default build has no change points.
static inline void ChangePointNamed(const char*, const char*) {}
static inline void ChangePoint(const char*, const wchar_t*) {}
static inline void NameDescriptor(FileHandle, const wchar_t*) {}
static inline void ForgetDescriptor(FileHandle) {}
static inline const char* DescriptorName(FileHandle) { return nullptr; }
#endif

// A regular file's attribute bit on Windows (FILE_ATTRIBUTE_NORMAL); the
// callers only tell it from a folder and a link.
static const uint32_t kPlainFile = 0x80u;

// The attribute bits of what lstat found: a link is ATTRIBUTE_LINK, and
// also ATTRIBUTE_FOLDER when it leads to a folder, as a Windows folder link.
static uint32_t AttributesOf(const char* path, const struct stat* info) {
  if (S_ISDIR(info->st_mode)) return ATTRIBUTE_FOLDER;
  if (S_ISLNK(info->st_mode)) {
    struct stat target;
    int folder = stat(path, &target) == 0 && S_ISDIR(target.st_mode);
    return ATTRIBUTE_LINK | (folder ? ATTRIBUTE_FOLDER : 0);
  }
  return kPlainFile;
}

uint32_t FileAttributes(const wchar_t* path) {
  char name[POSIX_PATH_ROOM];
  struct stat info;
  if (!SystemPath(path, name) || lstat(name, &info) != 0) return NO_ATTRIBUTES;
  return AttributesOf(name, &info);
}

uint32_t AttributesAt(int folder, const char* name) {
  struct stat info;
  if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return NO_ATTRIBUTES;
  if (S_ISDIR(info.st_mode)) return ATTRIBUTE_FOLDER;
  if (S_ISLNK(info.st_mode)) {
    struct stat target;
    int leads_to_folder = fstatat(folder, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    return ATTRIBUTE_LINK | (leads_to_folder ? ATTRIBUTE_FOLDER : 0);
  }
  return kPlainFile;
}

int FileSizeFromAttributes(const wchar_t* path, uint64_t* size) {
  char name[POSIX_PATH_ROOM];
  struct stat info;
  if (!SystemPath(path, name) || lstat(name, &info) != 0) return 0;
  *size = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
  return 1;
}

int CreateFolder(const wchar_t* path) {
  ChangePoint("create-folder", path);
  char name[POSIX_PATH_ROOM];
  return SystemPath(path, name) && mkdir(name, 0777) == 0 ? 1 : 0;
}

// Opens name with flags (O_CLOEXEC added: no started tool inherits it);
// with exclusive, an exclusive flock is taken too, or the open fails.
static FileHandle OpenWith(const wchar_t* path, int flags, int exclusive) {
  char name[POSIX_PATH_ROOM];
  if (!SystemPath(path, name)) return NO_FILE;
  int fd;
  do fd = open(name, flags | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return NO_FILE;
  if (exclusive && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return NO_FILE;
  }
  return HandleOf(fd);
}

FileHandle OpenForHashing(const wchar_t* path) {
  // O_NONBLOCK: a FIFO in a client folder must not stop the program; only
  // a regular file is handed back.
  FileHandle file = OpenWith(path, O_RDONLY | O_NONBLOCK, 0);
  if (file == NO_FILE) return NO_FILE;
  struct stat info;
  int fd = DescriptorOf(file);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return NO_FILE;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return file;
}

FileHandle OpenLockFile(const wchar_t* path) {
  ChangePoint("open-lock", path);  // creates the lock when it is absent
  FileHandle file = OpenWith(path, O_RDWR | O_CREAT, 1);
  NameDescriptor(file, path);
  return file;
}

FileHandle CreateLogFile(const wchar_t* path) {
  ChangePoint("create-log", path);
  FileHandle file = OpenWith(path, O_WRONLY | O_CREAT | O_EXCL, 0);
  NameDescriptor(file, path);
  return file;
}

FileHandle CreateNewFile(const wchar_t* path) {
  ChangePoint("create-file", path);
  FileHandle file = OpenWith(path, O_WRONLY | O_CREAT | O_EXCL, 1);
  NameDescriptor(file, path);
  return file;
}

FileHandle OpenForAppending(const wchar_t* path, uint64_t* size) {
  ChangePoint("open-append", path);  // creates the file when it is absent
  FileHandle file = OpenWith(path, O_WRONLY | O_CREAT, 1);
  if (file == NO_FILE) return file;
  NameDescriptor(file, path);
  off_t end = lseek(DescriptorOf(file), 0, SEEK_END);
  if (end < 0) {
    close(DescriptorOf(file));
    return NO_FILE;
  }
  *size = static_cast<uint64_t>(end);
  return file;
}

FileHandle OpenExclusive(const wchar_t* path) {
  return OpenWith(path, O_RDWR, 1);
}

int ReadChunk(FileHandle file, void* buffer, uint32_t room, uint32_t* got) {
  ssize_t count;
  do count = read(DescriptorOf(file), buffer, room);
  while (count < 0 && errno == EINTR);
  if (count < 0) return 0;
  *got = static_cast<uint32_t>(count);
  return 1;
}

// Writes all of data to fd; the change point is the caller's.
static int WriteAllTo(int fd, const void* data, uint32_t count) {
  const char* bytes = static_cast<const char*>(data);
  uint32_t done = 0;
  while (done < count) {
    ssize_t written = write(fd, bytes + done, count - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return 0;
    done += static_cast<uint32_t>(written);
  }
  return 1;
}

int WriteAll(FileHandle file, const void* data, uint32_t count) {
  ChangePointNamed("write", DescriptorName(file));
  return WriteAllTo(DescriptorOf(file), data, count);
}

int FlushFile(FileHandle file) {
  ChangePointNamed("flush", DescriptorName(file));
  return fsync(DescriptorOf(file)) == 0 ? 1 : 0;
}

void CloseFile(FileHandle file) {
  if (file == NO_FILE || file == nullptr) return;
  ForgetDescriptor(file);
  close(DescriptorOf(file));
}

// The folder that holds name, into folder: what is before its last slash,
// or "." for a bare name.
static void FolderOf(const char* name, char (&folder)[POSIX_PATH_ROOM]) {
  const char* slash = strrchr(name, '/');
  if (slash == nullptr) {
    strcpy(folder, ".");
  } else if (slash == name) {
    strcpy(folder, "/");
  } else {
    size_t length = static_cast<size_t>(slash - name);
    memcpy(folder, name, length);
    folder[length] = '\0';
  }
}

// Writes a folder's entries through to the disk: after a rename, the new
// name is durable only once its folder is.
static int SyncFolderOf(const char* name) {
  char folder[POSIX_PATH_ROOM];
  FolderOf(name, folder);
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  int ok = fsync(fd) == 0;
  close(fd);
  return ok ? 1 : 0;
}

int CopyToNewFile(const wchar_t* source, const wchar_t* destination) {
  ChangePoint("copy", destination);
  FileHandle from = OpenForHashing(source);
  if (from == NO_FILE) return 0;
  FileHandle to = OpenWith(destination, O_WRONLY | O_CREAT | O_EXCL, 0);
  if (to == NO_FILE) {
    CloseFile(from);
    return 0;
  }
  static char buffer[1 << 16];
  uint32_t got = 0;
  int ok = 1;
  // One change point for the whole copy, as the Windows layer's one call.
  while (ok && (ok = ReadChunk(from, buffer, sizeof buffer, &got)) && got > 0) {
    ok = WriteAllTo(DescriptorOf(to), buffer, got);
  }
  CloseFile(from);
  CloseFile(to);
  return ok;
}

int ReplaceKeepingBackup(const wchar_t* target, const wchar_t* replacement, const wchar_t* backup) {
  ChangePoint("replace", target);
  char target_name[POSIX_PATH_ROOM], replacement_name[POSIX_PATH_ROOM], backup_name[POSIX_PATH_ROOM];
  if (!SystemPath(target, target_name) || !SystemPath(replacement, replacement_name) ||
      !SystemPath(backup, backup_name)) {
    return 0;
  }
  if (rename(target_name, backup_name) != 0) return 0;
  if (rename(replacement_name, target_name) != 0) {
    // The target is put back, as the call leaves it when it fails.
    rename(backup_name, target_name);
    return 0;
  }
  return 1;
}

int MoveToNewPlace(const wchar_t* source, const wchar_t* destination) {
  ChangePoint("move-new", destination);
  char from[POSIX_PATH_ROOM], to[POSIX_PATH_ROOM];
  if (!SystemPath(source, from) || !SystemPath(destination, to)) return 0;
  // renameat2 refuses an existing destination in the same call; a file
  // system without it gets the check first.
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) != 0) {
    struct stat info;
    if (errno != EINVAL || lstat(to, &info) == 0 || rename(from, to) != 0) return 0;
  }
  return SyncFolderOf(to) && SyncFolderOf(from);
}

int MoveOverExisting(const wchar_t* source, const wchar_t* destination) {
  ChangePoint("move-over", destination);
  char from[POSIX_PATH_ROOM], to[POSIX_PATH_ROOM];
  if (!SystemPath(source, from) || !SystemPath(destination, to)) return 0;
  if (rename(from, to) != 0) return 0;
  return SyncFolderOf(to) && SyncFolderOf(from);
}

int DeleteOneFile(const wchar_t* path) {
  ChangePoint("delete", path);
  char name[POSIX_PATH_ROOM];
  struct stat info;
  // A folder is no file: unlink would refuse it too, but not everywhere.
  if (!SystemPath(path, name) || lstat(name, &info) != 0 || S_ISDIR(info.st_mode)) return 0;
  return unlink(name) == 0 ? 1 : 0;
}

int ResolveFullPath(const wchar_t* path, wchar_t* out, uint32_t capacity) {
  // Without looking at the disk, as GetFullPathNameW: the current folder
  // before a relative path, then "." and ".." and repeated slashes taken out.
  wchar_t joined[POSIX_PATH_ROOM];
  if (path[0] == L'/') {
    if (wcslen(path) >= POSIX_PATH_ROOM) return 0;
    wcscpy(joined, path);
  } else {
    char current[POSIX_PATH_ROOM];
    if (getcwd(current, sizeof current) == nullptr) return 0;
    wchar_t folder[POSIX_PATH_ROOM];
    if (!WideFromUtf8Bytes(current, strlen(current), folder, POSIX_PATH_ROOM, nullptr)) return 0;
    if (wcslen(folder) + 1 + wcslen(path) >= POSIX_PATH_ROOM) return 0;
    swprintf(joined, POSIX_PATH_ROOM, L"%ls/%ls", folder, path);
  }
  size_t made = 0;
  out[made] = L'\0';
  const wchar_t* at = joined;
  while (*at != L'\0') {
    while (*at == L'/') ++at;
    const wchar_t* end = at;
    while (*end != L'\0' && *end != L'/') ++end;
    size_t length = static_cast<size_t>(end - at);
    if (length == 0 || (length == 1 && at[0] == L'.')) {
      // nothing to add
    } else if (length == 2 && at[0] == L'.' && at[1] == L'.') {
      while (made > 0 && out[made - 1] != L'/') --made;
      if (made > 0) --made;
      out[made] = L'\0';
    } else {
      if (made + 1 + length + 1 > capacity) return 0;
      out[made++] = L'/';
      wmemcpy(out + made, at, length);
      made += length;
      out[made] = L'\0';
    }
    at = end;
  }
  if (made == 0) {
    if (capacity < 2) return 0;
    out[0] = L'/';
    out[1] = L'\0';
  }
  return 1;
}

int FreeBytesForUser(const wchar_t* folder, uint64_t* free_bytes) {
  char name[POSIX_PATH_ROOM];
  struct statvfs info;
  if (!SystemPath(folder, name) || statvfs(name, &info) != 0) return 0;
  *free_bytes = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
  return 1;
}

int FileStamp(const wchar_t* path, uint64_t* size, uint64_t* write_time) {
  char name[POSIX_PATH_ROOM];
  struct stat info;
  if (!SystemPath(path, name) || lstat(name, &info) != 0) return 0;
  *size = static_cast<uint64_t>(info.st_size);
  *write_time = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000ULL + static_cast<uint64_t>(info.st_mtim.tv_nsec);
  return 1;
}

int RemoveEmptyFolder(const wchar_t* path) {
  ChangePoint("remove-folder", path);
  char name[POSIX_PATH_ROOM];
  return SystemPath(path, name) && rmdir(name) == 0 ? 1 : 0;
}

int TemporaryFolder(wchar_t* out, uint32_t capacity) {
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  if (!WideFromUtf8Bytes(folder, strlen(folder), out, capacity, nullptr)) return 0;
  size_t length = wcslen(out);
  while (length > 1 && out[length - 1] == L'/') out[--length] = L'\0';
  return 1;
}
