// Header text of the resilient fetch.
#include "transfer/http_text.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

int ParseDecimalText(const wchar_t* text, uint64_t* value) {
  uint64_t number = 0;
  size_t length = wcslen(text);
  if (length == 0 || length > 19) return 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return 0;
    number = number * 10 + static_cast<uint64_t>(text[i] - L'0');
  }
  *value = number;
  return 1;
}

int ParseContentRange(const wchar_t* text, uint64_t* first, uint64_t* last, uint64_t* total) {
  if (wcsncmp(text, L"bytes ", 6) != 0) return 0;
  // The three numbers end at '-', '/' and the end of the text.
  static const wchar_t kEnds[3] = {L'-', L'/', L'\0'};
  uint64_t* numbers[3] = {first, last, total};
  const wchar_t* at = text + 6;
  for (int i = 0; i < 3; ++i) {
    wchar_t part[24];
    size_t n = 0;
    while (at[n] != kEnds[i] && at[n] != L'\0' && n < 23) ++n;
    if (at[n] != kEnds[i]) return 0;
    wmemcpy(part, at, n);
    part[n] = L'\0';
    if (!ParseDecimalText(part, numbers[i])) return 0;
    at += n + (i < 2 ? 1 : 0);
  }
  return 1;
}

int64_t UtcSecondsOf(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second) {
  // Days from the civil date: years counted from March, so that the leap
  // day ends a year; eras of 400 years.
  year -= month <= 2 ? 1 : 0;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t year_of_era = year - era * 400;
  int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  int64_t days = era * 146097 + day_of_era - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

int ParseHttpDate(const wchar_t* text, int64_t* seconds) {
  static const wchar_t kMonths[] = L"JanFebMarAprMayJunJulAugSepOctNovDec";
  const wchar_t* comma = wcschr(text, L',');
  if (comma == nullptr) return 0;
  unsigned day = 0, year = 0, hour = 0, minute = 0, second = 0;
  wchar_t month_name[4] = {0, 0, 0, 0};
  if (swscanf(comma + 1, L" %2u %3ls %4u %2u:%2u:%2u", &day, month_name, &year, &hour, &minute, &second) != 6) {
    return 0;
  }
  if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return 0;
  for (int m = 0; m < 12; ++m) {
    if (wcsncmp(kMonths + 3 * m, month_name, 3) == 0 && wcslen(month_name) == 3) {
      *seconds = UtcSecondsOf(year, m + 1, day, hour, minute, second);
      return 1;
    }
  }
  return 0;
}
