// The text of HTTP headers the resilient fetch reads: sizes as decimal
// text (never as a 32-bit number), byte ranges and dates. Pure functions
// over terminated UTF-16 text; silent.
#pragma once

#include <stdint.h>

// A decimal number of 1 to 19 digits and nothing else.
int ParseDecimalText(const wchar_t* text, uint64_t* value);

// "bytes <first>-<last>/<total>", as a Content-Range of a 206 gives it.
int ParseContentRange(const wchar_t* text, uint64_t* first, uint64_t* last, uint64_t* total);

// Seconds from 1970-01-01 00:00 UTC to the given UTC date and time
// (proleptic Gregorian calendar).
int64_t UtcSecondsOf(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second);

// An HTTP date in its preferred form ("Sun, 06 Nov 1994 08:49:37 GMT") as
// seconds since 1970.
int ParseHttpDate(const wchar_t* text, int64_t* seconds);
