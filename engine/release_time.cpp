// UTC times of signed release documents.
#include "engine/release_time.h"

#include "transfer/http_text.h"

static int IsLeapYear(uint32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

static uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// count decimal digits at text into *value; 0 at any other character.
static int Digits(const wchar_t* text, uint32_t count, uint32_t* value) {
  uint32_t number = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return 0;
    number = number * 10 + static_cast<uint32_t>(text[i] - L'0');
  }
  *value = number;
  return 1;
}

int ParseUtcTime(const wchar_t* text, uint64_t* seconds) {
  // The separators first: they also stop the digit reads below at a
  // terminator in a shorter text.
  static const struct {
    uint32_t at;
    wchar_t c;
  } kSeparators[] = {{4, L'-'}, {7, L'-'}, {10, L'T'}, {13, L':'}, {16, L':'}, {19, L'Z'}};
  for (uint32_t i = 0; i < UTC_TIME_CHARACTERS; ++i) {
    if (text[i] == L'\0') return 0;
  }
  if (text[UTC_TIME_CHARACTERS] != L'\0') return 0;
  for (const auto& separator : kSeparators) {
    if (text[separator.at] != separator.c) return 0;
  }
  uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, 4, &year) || !Digits(text + 5, 2, &month) || !Digits(text + 8, 2, &day) ||
      !Digits(text + 11, 2, &hour) || !Digits(text + 14, 2, &minute) || !Digits(text + 17, 2, &second)) {
    return 0;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return 0;
  // No leap second: 23:59:60 is refused like any other out-of-range field.
  if (hour > 23 || minute > 59 || second > 59) return 0;
  *seconds = static_cast<uint64_t>(UtcSecondsOf(year, month, day, hour, minute, second));
  return 1;
}

// Two digits of value at out.
static void PutTwo(wchar_t* out, uint32_t value) {
  out[0] = static_cast<wchar_t>(L'0' + value / 10);
  out[1] = static_cast<wchar_t>(L'0' + value % 10);
}

int FormatUtcTime(uint64_t seconds, wchar_t* out, size_t capacity) {
  // 10000-01-01T00:00:00Z
  if (capacity < UTC_TIME_CHARACTERS + 1 || seconds >= 253402300800ULL) return 0;
  uint64_t days = seconds / 86400;
  uint32_t of_day = static_cast<uint32_t>(seconds % 86400);
  // The civil date of a day count (Howard Hinnant's civil_from_days), the
  // inverse of UtcSecondsOf's day count.
  uint64_t z = days + 719468;
  uint64_t era = z / 146097;
  uint32_t day_of_era = static_cast<uint32_t>(z - era * 146097);
  uint32_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  uint32_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  uint32_t mp = (5 * day_of_year + 2) / 153;
  uint32_t day = day_of_year - (153 * mp + 2) / 5 + 1;
  uint32_t month = mp < 10 ? mp + 3 : mp - 9;
  uint32_t year = static_cast<uint32_t>(year_of_era + era * 400) + (month <= 2 ? 1 : 0);
  PutTwo(out, year / 100);
  PutTwo(out + 2, year % 100);
  out[4] = L'-';
  PutTwo(out + 5, month);
  out[7] = L'-';
  PutTwo(out + 8, day);
  out[10] = L'T';
  PutTwo(out + 11, of_day / 3600);
  out[13] = L':';
  PutTwo(out + 14, of_day / 60 % 60);
  out[16] = L':';
  PutTwo(out + 17, of_day % 60);
  out[19] = L'Z';
  out[20] = L'\0';
  return 1;
}

int WithinValidity(uint64_t signed_at, uint64_t expires, uint64_t now) {
  if (now > expires && now - expires > CLOCK_TOLERANCE_SECONDS) return 0;
  if (signed_at > now && signed_at - now > CLOCK_TOLERANCE_SECONDS) return 0;
  return 1;
}
