// The system clock through kernel32.
#include "platform/clock.h"

#include <windows.h>

// FILETIME counts 100-nanosecond steps from 1601-01-01; the Unix epoch
// lies 11,644,473,600 seconds later.
static const uint64_t kEpochOffsetSeconds = 11644473600ULL;

uint64_t UtcSecondsNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t steps = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  uint64_t seconds = steps / 10000000ULL;
  return seconds > kEpochOffsetSeconds ? seconds - kEpochOffsetSeconds : 0;
}
