// Hostile manifests made from a valid one, reproducibly: a seed always
// names the same bytes, on every machine and in every run, so that a seed
// that breaks the updater can be reported, replayed and kept.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// SplitMix64: small, fast and of the tests' own, so that no platform's
// rand() decides what a seed means.
class Prng {
 public:
  explicit Prng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // 0 to n - 1; 0 when n is 0.
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : uint32_t(Next() % n); }
  bool Percent(uint32_t percent) { return Below(100) < percent; }
  // One of items; a default value when there are none.
  template <typename T>
  T Pick(const std::vector<T>& items) {
    return items.empty() ? T() : items[Below(uint32_t(items.size()))];
  }

 private:
  uint64_t state_;
};

struct Mutant {
  std::string bytes;   // the manifest file as it goes into the package
  std::string recipe;  // what was done to the valid one, for reports
};

// Turns a valid manifest ("[section]" and "key=value" lines ended by CR LF,
// values in ASCII) into a hostile one by one to four mutations: bytes
// flipped, lines cut, dropped, repeated or moved, sections repeated or
// reordered, the case of sections, keys and values changed, numbers at and
// past their limits, remote paths and names with refused characters, every
// form of "..", device stems, look-alike letters, NUL bytes, byte-order
// marks and UTF-16, LF-only and CR-only lines, very long lines, and sizes
// of exactly 1 MiB and one byte more.
Mutant MutateManifest(const std::string& valid, uint64_t seed);
