// The manifest: header, file sections and the number rule.
#include "engine/manifest.h"

#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "engine/file_table.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "transfer/digest.h"
#include "transfer/fetch.h"

extern const wchar_t UNSUPPORTED_MANIFEST_MESSAGE[] = L"지원하지 않는 패치 목록입니다.";
extern const wchar_t BAD_LAUNCH_MESSAGE[] = L"실행 파일 정보가 올바르지 않습니다.";
extern const wchar_t BAD_ENTRY_MESSAGE[] = L"패치 목록에 잘못된 파일 정보가 있습니다.";
extern const wchar_t DUPLICATE_ENTRY_MESSAGE[] = L"중복된 패치 파일입니다.";

void ReadManifestText(const wchar_t* section, const wchar_t* key, wchar_t* out, uint32_t capacity) {
  ReadIniText(config.manifest_path, section, key, out, capacity);
}

static int IsBlank(wchar_t c) {
  return c == L' ' || (c >= L'\t' && c <= L'\r');
}

static int IsDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

int ParseManifestNumber(const wchar_t* text, uint64_t* value) {
  if (text[0] == L'\0' || text[0] == L'-') return 0;
  const wchar_t* c = text;
  while (IsBlank(*c)) ++c;
  int negative = 0;
  if (*c == L'+' || *c == L'-') {
    negative = (*c == L'-');
    ++c;
  }
  if (!IsDigit(*c)) return 0;
  uint64_t number = 0;
  for (; IsDigit(*c); ++c) {
    uint64_t digit = static_cast<uint64_t>(*c - L'0');
    // Stops at 2^64 - 1, far above the limit, when the digits overflow.
    number = number > (UINT64_MAX - digit) / 10 ? UINT64_MAX : number * 10 + digit;
  }
  if (*c != L'\0') return 0;
  // A negated value wraps modulo 2^64, so only zero stays within the limit;
  // any other negative text is refused outright, because a value near 2^64
  // would wrap to a small one (-(2^64 - 1) is 1).
  if (negative && number != 0) return 0;
  if (number > MANIFEST_LARGEST_NUMBER) return 0;
  *value = number;
  return 1;
}

int ReadManifestNumber(const wchar_t* section, const wchar_t* key, uint64_t* value) {
  wchar_t text[32];
  ReadManifestText(section, key, text, 32);
  return ParseManifestNumber(text, value);
}

extern const wchar_t LAUNCH_EXECUTABLE[] = L"Quenfar8.exe";

int ReadSupportedFormat() {
  uint64_t format = 0;
  return ReadManifestNumber(L"release", L"format", &format) && format == 1;
}

int ReadEntryCount(uint64_t* count) {
  return ReadManifestNumber(L"release", L"count", count) && *count >= 1 && *count <= MAX_FILES;
}

int IsLaunchExecutable(const wchar_t* launch) {
  return wcscmp(launch, LAUNCH_EXECUTABLE) == 0;
}

int ReadPatchCount(const wchar_t* section, uint32_t* patch_count) {
  uint64_t patches = 0;
  if (!ReadManifestNumber(section, L"patches", &patches) || patches > MAX_PATCHES_PER_FILE) return 0;
  *patch_count = static_cast<uint32_t>(patches);
  return 1;
}

int ReadManifestHeader() {
  if (!ReadSupportedFormat()) {
    ReportStatus(UNSUPPORTED_MANIFEST_MESSAGE);
    return 0;
  }
  uint64_t count = 0;
  if (!ReadEntryCount(&count)) {
    ReportStatus(UNSUPPORTED_MANIFEST_MESSAGE);
    return 0;
  }
  entry_count = static_cast<int32_t>(count);
  ReadManifestText(L"release", L"launch", config.launch_name, NAME_CAPACITY);
  if (!IsLaunchExecutable(config.launch_name)) {
    ReportStatus(BAD_LAUNCH_MESSAGE);
    return 0;
  }
  return 1;
}

static int IsNameCharacter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || IsDigit(c) || c == L'_' || c == L'-' ||
         c == L'.';
}

// Device names that Windows resolves in every folder, whatever follows the
// first dot: CON, PRN, AUX, NUL, COM0-COM9 and LPT0-LPT9, in any case.
static int IsDeviceStem(const wchar_t* name) {
  wchar_t stem[NAME_CAPACITY];
  size_t length = wcscspn(name, L".");
  if (length >= NAME_CAPACITY) return 0;
  wmemcpy(stem, name, length);
  stem[length] = L'\0';
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
  for (const wchar_t* device : kDevices) {
    if (EqualsIgnoringAsciiCase(stem, device)) return 1;
  }
  if (length == 4 && IsDigit(stem[3])) {
    stem[3] = L'\0';
    if (EqualsIgnoringAsciiCase(stem, L"COM") || EqualsIgnoringAsciiCase(stem, L"LPT")) return 1;
  }
  return 0;
}

int IsUpdaterProgramName(const wchar_t* name) {
  // The updater and its patch tool are never replaced by an update.
  return EqualsIgnoringAsciiCase(name, L"Quenfar8Updater.exe") || EqualsIgnoringAsciiCase(name, L"hpatchz.exe");
}

NameFault FindNameFault(const wchar_t* name) {
  size_t length = wcslen(name);
  if (length < 1 || length > 120) return NameFault::Length;
  if (name[length - 1] == L'.') return NameFault::DotLast;
  if (wcsstr(name, L"..") != nullptr) return NameFault::TwoDots;
  if (name[0] == L'.') return NameFault::DotFirst;
  for (size_t i = 0; i < length; ++i) {
    if (!IsNameCharacter(name[i])) return NameFault::Character;
  }
  if (IsDeviceStem(name)) return NameFault::DeviceName;
  if (IsUpdaterProgramName(name)) return NameFault::UpdaterOwnFile;
  return NameFault::None;
}

int IsAcceptedFileName(const wchar_t* name) {
  return FindNameFault(name) == NameFault::None ? 1 : 0;
}

// The value tests of one file section, after its name passed.
static int HasValidValues(const wchar_t* section, FileEntry* row, const wchar_t* full, uint32_t* patch_count) {
  if (!IsSha256Hex(row->sha256)) return 0;
  if (!ReadManifestNumber(section, L"size", &row->size)) return 0;
  if (!ReadPatchCount(section, patch_count)) return 0;
  return IsRemotePath(full);
}

int32_t EarlierRowOfSameName(int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    if (EqualsIgnoringAsciiCase(file_table[i].name, file_table[n].name)) return i;
  }
  return -1;
}

int ReadFileEntry(int32_t n, wchar_t* full, uint32_t* patch_count) {
  wchar_t section[64];
  FormatInto(section, L"file.%d", n);
  FileEntry* row = &file_table[n];
  ReadManifestText(section, L"name", row->name, NAME_CAPACITY);
  ReadManifestText(section, L"sha256", row->sha256, DIGEST_CAPACITY);
  ReadManifestText(section, L"full", full, REMOTE_CAPACITY);
  if (!IsAcceptedFileName(row->name) || !HasValidValues(section, row, full, patch_count)) {
    ReportStatus(BAD_ENTRY_MESSAGE);
    return 0;
  }
  if (EarlierRowOfSameName(n) >= 0) {
    ReportStatus(DUPLICATE_ENTRY_MESSAGE);
    return 0;
  }
  return 1;
}
