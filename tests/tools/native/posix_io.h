// Whole-file reads and writes for the native stand-ins of the patch tools.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

// Reads the file at path into bytes; false when it cannot be opened.
inline bool Slurp(const char* path, std::string* bytes) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[65536];
  ssize_t got;
  while ((got = read(fd, chunk, sizeof chunk)) > 0) bytes->append(chunk, static_cast<size_t>(got));
  close(fd);
  return got == 0;
}

// Writes bytes to path, opened with flags (O_CREAT and more); appends when
// flags hold O_APPEND.
inline bool Spill(const char* path, const std::string& bytes, int flags) {
  int fd = open(path, O_WRONLY | O_CLOEXEC | flags, 0666);
  if (fd < 0) return false;
  bool ok = bytes.empty() || write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(fd);
  return ok;
}
