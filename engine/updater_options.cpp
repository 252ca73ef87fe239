// The optional keys of Quenfar8Updater.ini.
#include "engine/updater_options.h"

#include <wchar.h>

#include "engine/manifest.h"
#include "platform/ini.h"
#include "platform/text.h"

// One row per optional key: its name and the values it takes.
struct OptionRow {
  const wchar_t* key;
  const wchar_t* values;
};

static const OptionRow kOptions[] = {
    {L"network", L"resilient"},
    {L"keep_runs", L"1 to 100"},
    {L"progress", L"bytes"},
};

static_assert(sizeof(kOptions) / sizeof(kOptions[0]) == static_cast<uint32_t>(UpdaterOption::kCount),
              "one row per option");

const wchar_t* UpdaterOptionKey(UpdaterOption option) {
  return kOptions[static_cast<uint32_t>(option)].key;
}

const wchar_t* UpdaterOptionValues(UpdaterOption option) {
  return kOptions[static_cast<uint32_t>(option)].values;
}

int ParseUpdaterOption(UpdaterOption option, const wchar_t* text, int32_t* value) {
  switch (option) {
    case UpdaterOption::kNetwork:
      if (wcscmp(text, L"resilient") != 0) return 0;
      *value = 1;
      return 1;
    case UpdaterOption::kProgress:
      if (wcscmp(text, L"bytes") != 0) return 0;
      *value = 1;
      return 1;
    case UpdaterOption::kKeepRuns: {
      // The manifest's number rule, so that signs, blanks and leading zeros
      // read the same way in both files.
      uint64_t number = 0;
      if (!ParseManifestNumber(text, &number) || number < 1 || number > 100) return 0;
      *value = static_cast<int32_t>(number);
      return 1;
    }
    case UpdaterOption::kCount:
      break;
  }
  return 0;
}

void FormatIgnoredOption(wchar_t* line, uint32_t capacity, UpdaterOption option) {
  FormatText(line, capacity, L"Quenfar8Updater.ini의 %ls 값을 알 수 없어 기본 동작으로 진행합니다.",
             UpdaterOptionKey(option));
}

void ReadUpdaterOptions(const wchar_t* ini_path, int32_t* const values[], uint32_t* ignored) {
  for (uint32_t i = 0; i < static_cast<uint32_t>(UpdaterOption::kCount); ++i) {
    UpdaterOption option = static_cast<UpdaterOption>(i);
    wchar_t value[OPTION_VALUE_CAPACITY];
    ReadIniText(ini_path, UPDATER_INI_SECTION, UpdaterOptionKey(option), value, OPTION_VALUE_CAPACITY);
    if (value[0] == L'\0') continue;
    if (!ParseUpdaterOption(option, value, values[i])) *ignored |= 1u << i;
  }
}
