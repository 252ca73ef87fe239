// The system clock through clock_gettime.
#include "platform/clock.h"

#include <time.h>

uint64_t UtcSecondsNow() {
  struct timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0) return 0;
  return static_cast<uint64_t>(now.tv_sec);
}
