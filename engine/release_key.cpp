// The publisher key built into the updater, as the build passes it in:
// empty for an updater that takes unsigned manifests (the default), or the
// X and Y coordinates of an ECDSA P-256 point in 128 lowercase hexadecimal
// digits. The build has checked the form; the compiler checks the length.
#include "engine/signature.h"

#ifndef RELEASE_PUBLIC_KEY_HEX
#error "RELEASE_PUBLIC_KEY_HEX must be set by the build"
#endif

extern const char RELEASE_PUBLIC_KEY[] = RELEASE_PUBLIC_KEY_HEX;

static_assert(sizeof(RELEASE_PUBLIC_KEY) == 1 || sizeof(RELEASE_PUBLIC_KEY) == 129,
              "the publisher key is empty or 128 hexadecimal digits");
