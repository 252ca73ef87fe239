// INI files through the platform's profile reader.
#pragma once

#include <stdint.h>

// Reads key of section from the INI file at path into out (capacity
// characters). Section and key match without regard to case; blanks around
// the value and one pair of enclosing quotes are removed; a longer value is
// cut to capacity - 1 characters. A missing file, section or key reads as
// the empty text.
void ReadIniText(const wchar_t* path, const wchar_t* section, const wchar_t* key, wchar_t* out,
                 uint32_t capacity);
