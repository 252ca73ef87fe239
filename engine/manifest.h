// Reading and validating the run's copy of manifest.ini.
#pragma once

#include <stdint.h>

// Value of key in section of the manifest copy into out, at most
// capacity - 1 characters; the empty text when the section or key is
// missing.
void ReadManifestText(const wchar_t* section, const wchar_t* key, wchar_t* out, uint32_t capacity);

// Reads key in section as a number from 0 to 2^40. 1 and *value when
// accepted, 0 when refused.
int ReadManifestNumber(const wchar_t* section, const wchar_t* key, uint64_t* value);

// The number rule on a text already read.
int ParseManifestNumber(const wchar_t* text, uint64_t* value);

// Validates [release], sets entry_count and config.launch_name. On 0 the
// message has been reported.
int ReadManifestHeader();

// Reads [file.N] into row N and validates it against the name, digest,
// number and path rules and the earlier rows. Hands over the "full" text
// (256 characters) and the patch count. On 0 the message has been reported.
int ReadFileEntry(int32_t n, wchar_t* full, uint32_t* patch_count);

// The name rule for one manifest file name.
int IsAcceptedFileName(const wchar_t* name);
