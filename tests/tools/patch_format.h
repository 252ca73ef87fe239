// The test patch tool's own difference format: the target is the base's
// first `prefix` bytes, then `middle`, then the base's last `suffix` bytes.
// A patch applies only to a base of exactly old_size bytes.
//
//   "QF8PATCH"  u64 old_size  u64 prefix  u64 suffix  u64 middle_size  middle
//
// All numbers little-endian. Deliberately simple: the updater never looks
// inside a patch, it only fetches, verifies and hands it to the tool.
#pragma once

#include <stdint.h>

#include <string>

inline void PutU64(std::string* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out->push_back(char((value >> (8 * i)) & 0xff));
}

inline bool GetU64(const std::string& in, size_t* at, uint64_t* value) {
  if (in.size() < *at + 8) return false;
  *value = 0;
  for (int i = 0; i < 8; ++i) *value |= uint64_t(uint8_t(in[*at + i])) << (8 * i);
  *at += 8;
  return true;
}

inline std::string MakePatch(const std::string& base, const std::string& target) {
  size_t prefix = 0;
  while (prefix < base.size() && prefix < target.size() && base[prefix] == target[prefix]) ++prefix;
  size_t suffix = 0;
  while (suffix < base.size() - prefix && suffix < target.size() - prefix &&
         base[base.size() - 1 - suffix] == target[target.size() - 1 - suffix]) {
    ++suffix;
  }
  std::string patch = "QF8PATCH";
  PutU64(&patch, base.size());
  PutU64(&patch, prefix);
  PutU64(&patch, suffix);
  std::string middle = target.substr(prefix, target.size() - prefix - suffix);
  PutU64(&patch, middle.size());
  return patch + middle;
}

inline bool ApplyPatch(const std::string& base, const std::string& patch, std::string* target) {
  if (patch.compare(0, 8, "QF8PATCH") != 0) return false;
  size_t at = 8;
  uint64_t old_size = 0, prefix = 0, suffix = 0, middle = 0;
  if (!GetU64(patch, &at, &old_size) || !GetU64(patch, &at, &prefix) || !GetU64(patch, &at, &suffix) ||
      !GetU64(patch, &at, &middle)) {
    return false;
  }
  if (old_size != base.size() || prefix + suffix > old_size || patch.size() - at != middle) return false;
  *target = base.substr(0, prefix) + patch.substr(at) + base.substr(base.size() - suffix);
  return true;
}
