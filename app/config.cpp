// Start-up: install folder, command line, INI file and the release source.
#include "app/config.h"

#include <wchar.h>

#include "app/status.h"
#include "engine/updater_options.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/processes.h"
#include "platform/win/start_up.h"
#include "platform/text.h"
#include "platform/win/window.h"
#include "transfer/digest.h"
#include "transfer/fetch.h"

Config config;

static const wchar_t kCaption[] = L"Quenfar8";
static const wchar_t kNoSourceMessage[] = L"Quenfar8Updater.ini에 HTTPS 패치 배포 주소를 설정해 주세요.";

// The folder of the running executable, which holds every client file.
static int FindInstallFolder() {
  uint32_t length = ExecutablePath(config.install_dir, PATH_CAPACITY);
  if (length == 0 || length > MAX_EXECUTABLE_PATH) return 0;
  wchar_t* last_backslash = wcsrchr(config.install_dir, L'\\');
  if (last_backslash == nullptr) return 0;
  *last_backslash = L'\0';
  return 1;
}

// Walks the arguments after the program itself. Options are compared in
// full and with case; anything else is an error.
static int ParseArguments(wchar_t** arguments, int count) {
  for (int i = 1; i < count; ++i) {
    const wchar_t* argument = arguments[i];
    if (wcscmp(argument, L"/package") == 0 && i + 1 < count) {
      // The next argument is the folder, whatever it looks like.
      ++i;
      if (!ResolveFullPath(arguments[i], config.package_dir, PATH_CAPACITY)) return 0;
    } else if (wcscmp(argument, L"/apply-only") == 0) {
      config.apply_only = 1;
    } else if (wcscmp(argument, L"/quiet") == 0) {
      config.quiet = 1;
    } else {
      return 0;
    }
  }
  return 1;
}

static int ReadCommandLine() {
  int count = 0;
  wchar_t** arguments = SplitCommandLine(&count);
  if (arguments == nullptr) return 0;
  int ok = ParseArguments(arguments, count);
  FreeArguments(arguments);
  return ok;
}

// Reads the feed and the optional keys. An absent or empty key keeps the
// plain behaviour; so does a value not understood, which is noted for the
// log.
static void ReadIniFile() {
  wchar_t ini_path[PATH_CAPACITY];
  JoinPath(ini_path, config.install_dir, L"Quenfar8Updater.ini");
  ReadIniText(ini_path, UPDATER_INI_SECTION, L"feed", config.feed_url, PATH_CAPACITY);
  // In the order of UpdaterOption.
  int32_t* const fields[] = {&config.network_resilient, &config.keep_runs, &config.progress_bytes};
  static_assert(sizeof(fields) / sizeof(fields[0]) == static_cast<uint32_t>(UpdaterOption::kCount),
                "one field per option");
  ReadUpdaterOptions(ini_path, fields, &config.ignored_options);
}

// The package folder from /package wins; else a manifest.ini beside the
// executable when the feed is empty; else the feed, which must be usable.
static int ChooseSource() {
  if (config.package_dir[0] != L'\0') return 1;
  if (config.feed_url[0] == L'\0') {
    wchar_t local_manifest[PATH_CAPACITY];
    JoinPath(local_manifest, config.install_dir, L"manifest.ini");
    if (IsRegularFile(local_manifest)) {
      CopyInto(config.package_dir, config.install_dir);
      return 1;
    }
  }
  if (IsFeedAddress(config.feed_url)) return 1;
  if (!config.quiet) ShowErrorBox(kCaption, kNoSourceMessage);
  return 0;
}

int LoadConfig() {
  if (!FindInstallFolder()) return 0;
  if (!ReadCommandLine()) return 0;
  ReadIniFile();
  return ChooseSource();
}

void ReportIgnoredOptions() {
  for (uint32_t i = 0; i < static_cast<uint32_t>(UpdaterOption::kCount); ++i) {
    if ((config.ignored_options & (1u << i)) == 0) continue;
    wchar_t line[STATUS_CAPACITY];
    FormatIgnoredOption(line, STATUS_CAPACITY, static_cast<UpdaterOption>(i));
    ReportStatus(line);
  }
}
