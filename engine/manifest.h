// Reading and validating the run's copy of manifest.ini.
#pragma once

#include <stdint.h>

// Largest size or count a manifest may state: 2^40.
constexpr uint64_t MANIFEST_LARGEST_NUMBER = 1099511627776ULL;

// Most [patch.N.M] sections one file may have.
constexpr uint64_t MAX_PATCHES_PER_FILE = 32;

// What the manifest checks report; the release tool quotes them to the
// publisher as what a player would see.
extern const wchar_t UNSUPPORTED_MANIFEST_MESSAGE[];  // [release] format or count refused
extern const wchar_t BAD_LAUNCH_MESSAGE[];            // launch is not Quenfar8.exe
extern const wchar_t BAD_ENTRY_MESSAGE[];             // a [file.N] key breaks its rule
extern const wchar_t DUPLICATE_ENTRY_MESSAGE[];       // a name repeats an earlier row's

// Value of key in section of the manifest copy into out, at most
// capacity - 1 characters; the empty text when the section or key is
// missing.
void ReadManifestText(const wchar_t* section, const wchar_t* key, wchar_t* out, uint32_t capacity);

// Reads key in section as a number from 0 to 2^40. 1 and *value when
// accepted, 0 when refused.
int ReadManifestNumber(const wchar_t* section, const wchar_t* key, uint64_t* value);

// The number rule on a text already read.
int ParseManifestNumber(const wchar_t* text, uint64_t* value);

// The game executable every manifest must launch and list: "Quenfar8.exe".
extern const wchar_t LAUNCH_EXECUTABLE[];

// The rules of single keys, each read from the manifest copy; silent. The
// header and file-section steps below apply them, and the release tool
// applies them one by one to name every key at fault.
int ReadSupportedFormat();                                       // [release] format is 1
int ReadEntryCount(uint64_t* count);                             // [release] count, 1 to 128
int IsLaunchExecutable(const wchar_t* launch);                   // exactly "Quenfar8.exe"
int ReadPatchCount(const wchar_t* section, uint32_t* patch_count);  // "patches", 0 to 32

// The earlier row (0 to n - 1) whose name equals row n's without regard to
// ASCII case, or -1.
int32_t EarlierRowOfSameName(int32_t n);

// Validates [release], sets entry_count and config.launch_name. On 0 the
// message has been reported.
int ReadManifestHeader();

// Reads [file.N] into row N and validates it against the name, digest,
// number and path rules and the earlier rows. Hands over the "full" text
// (256 characters) and the patch count. On 0 the message has been reported.
int ReadFileEntry(int32_t n, wchar_t* full, uint32_t* patch_count);

// The name rule for one manifest file name.
int IsAcceptedFileName(const wchar_t* name);

// 1 for the names of the updater and its patch tool, in any case: no
// release may list them.
int IsUpdaterProgramName(const wchar_t* name);

// Which test of the name rule a name fails first, in the order the rule
// applies them; None for an accepted name. The release tool names the
// reason to the publisher; the updater only needs yes or no.
enum class NameFault {
  None,
  Length,          // not 1 to 120 characters
  DotLast,         // ends with '.'
  TwoDots,         // holds ".."
  DotFirst,        // begins with '.'
  Character,       // a character other than A-Z a-z 0-9 _ - .
  DeviceName,      // CON, PRN, AUX, NUL, COM0-9 or LPT0-9 before the first dot
  UpdaterOwnFile,  // Quenfar8Updater.exe or hpatchz.exe, in any case
};
NameFault FindNameFault(const wchar_t* name);
