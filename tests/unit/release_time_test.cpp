// Times of signed release documents: the written form, the calendar and
// the window a player's clock may be off by.
#include <gtest/gtest.h>

#include <stdint.h>
#include <wchar.h>

#include "engine/release_time.h"

namespace {

TEST(ReleaseTime, WrittenTimesAndTheirSeconds) {
  // Seconds as `date -u -d <time> +%s` gives them.
  struct {
    const wchar_t* text;
    uint64_t seconds;
  } const cases[] = {
      {L"1970-01-01T00:00:00Z", 0},
      {L"2000-02-29T12:34:56Z", 951827696},   // a leap day of a year divisible by 400
      {L"2024-02-29T00:00:00Z", 1709164800},
      {L"2026-12-11T05:47:20Z", 1796968040},
      {L"2038-01-19T03:14:08Z", 2147483648},  // past 31 bits
      {L"2106-02-07T06:28:16Z", 4294967296},  // past 32 bits
      {L"9999-12-31T23:59:59Z", 253402300799},
  };
  for (const auto& c : cases) {
    uint64_t seconds = 1;
    ASSERT_TRUE(ParseUtcTime(c.text, &seconds)) << c.text;
    EXPECT_EQ(seconds, c.seconds) << c.text;
    wchar_t written[UTC_TIME_CHARACTERS + 1];
    ASSERT_TRUE(FormatUtcTime(c.seconds, written, UTC_TIME_CHARACTERS + 1)) << c.text;
    EXPECT_STREQ(written, c.text);
  }
  wchar_t small[UTC_TIME_CHARACTERS];
  EXPECT_FALSE(FormatUtcTime(0, small, UTC_TIME_CHARACTERS));
  wchar_t written[UTC_TIME_CHARACTERS + 1];
  EXPECT_FALSE(FormatUtcTime(253402300800ULL, written, UTC_TIME_CHARACTERS + 1));
}

TEST(ReleaseTime, EveryOtherTextIsRefused) {
  const wchar_t* const refused[] = {
      L"",
      L"2026-12-11T05:47:20",        // no zone
      L"2026-12-11T05:47:20+00:00",  // another zone form
      L"2026-12-11 05:47:20Z",
      L"2026-12-11t05:47:20z",
      L"2026-12-11T05:47:20Z ",
      L" 2026-12-11T05:47:20Z",
      L"2026-12-11T05:47:2Z",
      L"2026-1-11T05:47:20Z",
      L"+026-12-11T05:47:20Z",
      L"2026-12-11T05:47:-0Z",
      L"1969-12-31T23:59:59Z",  // before 1970
      L"2026-00-11T05:47:20Z",
      L"2026-13-11T05:47:20Z",
      L"2026-12-00T05:47:20Z",
      L"2026-04-31T05:47:20Z",
      L"2025-02-29T00:00:00Z",  // not a leap year
      L"2100-02-29T00:00:00Z",  // divisible by 100, not by 400
      L"2026-12-11T24:00:00Z",
      L"2026-12-11T05:60:00Z",
      L"2026-12-31T23:59:60Z",  // no leap second
      L"２０２６-12-11T05:47:20Z",
  };
  for (const wchar_t* text : refused) {
    uint64_t seconds = 7;
    EXPECT_FALSE(ParseUtcTime(text, &seconds)) << text;
    EXPECT_EQ(seconds, 7u) << text;
  }
}

TEST(ReleaseTime, AClockMayBeOffByTheToleranceAndNoMore) {
  const uint64_t signed_at = 1796968040, expires = signed_at + 30 * 86400;
  struct {
    uint64_t now;
    int valid;
  } const cases[] = {
      {signed_at, 1},
      {expires, 1},
      {expires + CLOCK_TOLERANCE_SECONDS, 1},  // a clock a few minutes fast
      {expires + CLOCK_TOLERANCE_SECONDS + 1, 0},
      {signed_at - CLOCK_TOLERANCE_SECONDS, 1},  // a clock a few minutes slow
      {signed_at - CLOCK_TOLERANCE_SECONDS - 1, 0},
      {signed_at - 2 * 365 * 86400ULL, 0},  // years behind
      {expires + 3 * 365 * 86400ULL, 0},    // years ahead
      {0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(WithinValidity(signed_at, expires, c.now), c.valid) << c.now;
}

}  // namespace
