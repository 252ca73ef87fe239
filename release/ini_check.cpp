// Linting Quenfar8Updater.ini with the rules the updater applies at start.
#include "release/ini_check.h"

#include <wchar.h>

#include "app/config.h"
#include "engine/updater_options.h"
#include "platform/https.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "release/output.h"
#include "transfer/digest.h"
#include "transfer/fetch.h"

namespace {

// Room for the lists of section and key names.
constexpr uint32_t kNamesCapacity = 16384;

// What the updater shows when the feed is unusable (and no manifest.ini
// lies beside it).
const wchar_t kNoFeedMessage[] = L"Quenfar8Updater.ini에 HTTPS 패치 배포 주소를 설정해 주세요.";

// What the updater does without each optional key.
const wchar_t* const kDefaults[] = {
    L"one attempt per file, nothing kept of a broken download",
    L"every run folder is kept",
    L"the bar moves one step per file",
};
static_assert(sizeof(kDefaults) / sizeof(kDefaults[0]) == static_cast<uint32_t>(UpdaterOption::kCount),
              "one default per option");

// 1 for a key of [updater] that the updater reads (in any letter case, as
// its INI reader matches keys).
int IsKnownKey(const wchar_t* key) {
  if (EqualsIgnoringAsciiCase(key, L"feed")) return 1;
  for (uint32_t i = 0; i < static_cast<uint32_t>(UpdaterOption::kCount); ++i) {
    if (EqualsIgnoringAsciiCase(key, UpdaterOptionKey(static_cast<UpdaterOption>(i)))) return 1;
  }
  return 0;
}

// The feed: the updater's start-up rule, then the split that its first
// request makes.
void CheckFeed(const wchar_t* ini_path) {
  wchar_t feed[PATH_CAPACITY];
  ReadIniText(ini_path, UPDATER_INI_SECTION, L"feed", feed, PATH_CAPACITY);
  if (feed[0] == L'\0') {
    Problem(L"[updater] feed: missing or empty; the updater then works only with a manifest.ini beside it, and "
            L"otherwise says \"%ls\"",
            kNoFeedMessage);
    return;
  }
  if (wcslen(feed) >= PATH_CAPACITY - 1) {
    Problem(L"[updater] feed: longer than the %u characters the updater reads", unsigned(PATH_CAPACITY - 2));
    return;
  }
  if (!IsFeedAddress(feed)) {
    Problem(L"[updater] feed: \"%ls\": a feed address begins with https:// and ends with /; the updater says \"%ls\"",
            feed, kNoFeedMessage);
    return;
  }
  wchar_t address[2048];
  wchar_t host[256];
  wchar_t url_path[2048];
  uint16_t port = 0;
  FormatInto(address, L"%lsmanifest.ini", feed);
  if (!SplitHttpsAddress(address, host, 256, url_path, 2048, &port)) {
    Problem(L"[updater] feed: \"%ls\": not an HTTPS address the updater can use; it says \"HTTPS 패치 주소가 "
            L"필요합니다.\"",
            feed);
    return;
  }
  Say(L"feed: %ls", feed);
}

// Every optional key: its value by the updater's own rule.
void CheckOptionalKeys(const wchar_t* ini_path) {
  int32_t values[static_cast<uint32_t>(UpdaterOption::kCount)] = {};
  int32_t* const fields[] = {&values[0], &values[1], &values[2]};
  static_assert(sizeof(fields) / sizeof(fields[0]) == static_cast<uint32_t>(UpdaterOption::kCount),
                "one field per option");
  uint32_t ignored = 0;
  ReadUpdaterOptions(ini_path, fields, &ignored);
  for (uint32_t i = 0; i < static_cast<uint32_t>(UpdaterOption::kCount); ++i) {
    UpdaterOption option = static_cast<UpdaterOption>(i);
    wchar_t text[OPTION_VALUE_CAPACITY];
    ReadIniText(ini_path, UPDATER_INI_SECTION, UpdaterOptionKey(option), text, OPTION_VALUE_CAPACITY);
    if (ignored & (1u << i)) {
      wchar_t line[STATUS_CAPACITY];
      FormatIgnoredOption(line, STATUS_CAPACITY, option);
      Problem(L"[updater] %ls: \"%ls\": the updater takes %ls; it logs \"%ls\" and goes on as without the key (%ls)",
              UpdaterOptionKey(option), text, UpdaterOptionValues(option), line, kDefaults[i]);
    } else if (values[i] != 0) {
      Say(L"%ls: %ls", UpdaterOptionKey(option), text);
    } else {
      Say(L"%ls: not set (%ls)", UpdaterOptionKey(option), kDefaults[i]);
    }
  }
}

// Keys of [updater] and sections that the updater never reads: most often
// a misspelt name, whose setting then has no effect.
void CheckUnknownNames(const wchar_t* ini_path) {
  static wchar_t names[kNamesCapacity];
  ReadIniNames(ini_path, nullptr, names, kNamesCapacity);
  for (const wchar_t* name = names; *name != L'\0'; name += wcslen(name) + 1) {
    if (!EqualsIgnoringAsciiCase(name, UPDATER_INI_SECTION)) {
      Problem(L"[%ls]: the updater reads only [updater]; nothing in this section has any effect", name);
    }
  }
  ReadIniNames(ini_path, UPDATER_INI_SECTION, names, kNamesCapacity);
  for (const wchar_t* key = names; *key != L'\0'; key += wcslen(key) + 1) {
    if (!IsKnownKey(key)) {
      Problem(L"[updater] %ls: the updater knows no such key (it reads feed, network, keep_runs and progress); "
              L"it has no effect",
              key);
    }
  }
}

}  // namespace

int CheckIniFile(const std::wstring& ini_path) {
  if (!IsRegularFile(ini_path.c_str())) {
    Problem(L"%ls: no such file", ini_path.c_str());
    return 1;
  }
  Say(L"%ls:", ini_path.c_str());
  CheckFeed(ini_path.c_str());
  CheckOptionalKeys(ini_path.c_str());
  CheckUnknownNames(ini_path.c_str());
  if (ProblemCount() == 0) {
    Say(L"no problems: a player's updater reads this file as written");
    return 0;
  }
  Say(ProblemCount() == 1 ? L"%d problem" : L"%d problems", ProblemCount());
  return 1;
}
