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

// The names in the INI file at path, each terminated, the list ended by an
// empty one, into out (capacity characters): the keys of section, or with
// section null the names of the sections. A list that does not fit is cut
// after its last whole name. A missing file or section lists nothing.
void ReadIniNames(const wchar_t* path, const wchar_t* section, wchar_t* out, uint32_t capacity);
