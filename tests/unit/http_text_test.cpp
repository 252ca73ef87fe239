// The header text of the resilient fetch: decimal sizes, byte ranges and
// HTTP dates.
#include <gtest/gtest.h>

#include <stdint.h>

#include "transfer/http_text.h"

namespace {

TEST(HttpText, DecimalSizesAsText) {
  struct {
    const wchar_t* text;
    int ok;
    uint64_t value;
  } const cases[] = {
      {L"0", 1, 0},
      {L"2147483647", 1, 2147483647ULL},
      {L"2300000000", 1, 2300000000ULL},  // past 31 bits: read as text, not as a number of the platform
      {L"3221225472", 1, 3221225472ULL},
      {L"5368709220", 1, 5368709220ULL},  // past 32 bits
      {L"9999999999999999999", 1, 9999999999999999999ULL},
      {L"", 0, 0},
      {L"12a", 0, 0},
      {L"-1", 0, 0},
      {L" 12", 0, 0},
      {L"99999999999999999999", 0, 0},  // 20 digits
  };
  for (const auto& c : cases) {
    uint64_t value = 12345;
    EXPECT_EQ(ParseDecimalText(c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(HttpText, ContentRanges) {
  struct {
    const wchar_t* text;
    int ok;
    uint64_t first, last, total;
  } const cases[] = {
      {L"bytes 0-99/100", 1, 0, 99, 100},
      {L"bytes 1073741824-2147483647/3221225472", 1, 1073741824ULL, 2147483647ULL, 3221225472ULL},
      {L"bytes 100000-199999/200000", 1, 100000, 199999, 200000},
      {L"bytes 5368709120-5368709219/5368709220", 1, 5368709120ULL, 5368709219ULL, 5368709220ULL},
      {L"bytes */200000", 0, 0, 0, 0},
      {L"bytes 0-99", 0, 0, 0, 0},
      {L"bytes 0-99/", 0, 0, 0, 0},
      {L"bytes -99/100", 0, 0, 0, 0},
      {L"items 0-99/100", 0, 0, 0, 0},
      {L"bytes 0-99/100 ", 0, 0, 0, 0},
      {L"", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    uint64_t first = 1, last = 1, total = 1;
    EXPECT_EQ(ParseContentRange(c.text, &first, &last, &total), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(first, c.first) << c.text;
      EXPECT_EQ(last, c.last) << c.text;
      EXPECT_EQ(total, c.total) << c.text;
    }
  }
}

TEST(HttpText, Dates) {
  EXPECT_EQ(UtcSecondsOf(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(UtcSecondsOf(2000, 3, 1, 0, 0, 0), 951868800);
  EXPECT_EQ(UtcSecondsOf(2026, 12, 10, 17, 0, 0), 1796922000);
  struct {
    const wchar_t* text;
    int ok;
    int64_t seconds;
  } const cases[] = {
      {L"Sun, 06 Nov 1994 08:49:37 GMT", 1, 784111777},
      {L"Thu, 29 Feb 2024 23:59:59 GMT", 1, 1709251199},
      {L"Thu, 10 Dec 2026 17:00:00 GMT", 1, 1796922000},
      {L"Sun, 06 Nob 1994 08:49:37 GMT", 0, 0},
      {L"06 Nov 1994 08:49:37 GMT", 0, 0},
      {L"Sun, 06 Nov 1994", 0, 0},
      {L"Sun, 32 Nov 1994 08:49:37 GMT", 0, 0},
      {L"120", 0, 0},
  };
  for (const auto& c : cases) {
    int64_t seconds = -1;
    EXPECT_EQ(ParseHttpDate(c.text, &seconds), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(seconds, c.seconds) << c.text;
    }
  }
}

}  // namespace
