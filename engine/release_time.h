// Times in signed release documents: UTC, written exactly
// "YYYY-MM-DDTHH:MM:SSZ", counted in seconds since 1970-01-01T00:00:00Z.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Characters of a written time, without the terminator.
constexpr uint32_t UTC_TIME_CHARACTERS = 20;

// How far a player's clock may be off before a signed document counts as
// expired or as signed in the future: five minutes.
constexpr uint64_t CLOCK_TOLERANCE_SECONDS = 300;

// Reads a time of exactly the written form, a real date of the years 1970
// to 9999, into *seconds. 0 for any other text.
int ParseUtcTime(const wchar_t* text, uint64_t* seconds);

// Writes seconds (at most 9999-12-31T23:59:59Z) in the written form into
// out, which holds at least UTC_TIME_CHARACTERS + 1 characters. 0 when the
// time is past that.
int FormatUtcTime(uint64_t seconds, wchar_t* out, size_t capacity);

// 1 when a document signed at signed_at and valid until expires holds at
// now: not past its expiry and not signed in the future, each by more than
// the tolerance.
int WithinValidity(uint64_t signed_at, uint64_t expires, uint64_t now);
