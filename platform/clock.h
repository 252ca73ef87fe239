// The system clock.
#pragma once

#include <stdint.h>

// The current UTC time in seconds since 1970-01-01T00:00:00Z, as the
// system clock has it (which may be wrong: the callers allow for that).
uint64_t UtcSecondsNow();
