// The attribute bits of a folder's entry, shared by the files and folders
// services of the POSIX layer.
#pragma once

#include <stdint.h>

// The Windows-valued attribute bits (platform/files.h) of the entry name
// in the open folder (a descriptor), without following a link;
// NO_ATTRIBUTES when it cannot be examined.
uint32_t AttributesAt(int folder, const char* name);
