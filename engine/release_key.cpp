// The publisher keys built into the updater, as the build passes them in:
// empty for an updater that takes unsigned manifests (the default); or the
// single key that signs manifests, the X and Y coordinates of an ECDSA
// P-256 point in 128 lowercase hexadecimal digits; or one to four root
// keys of that form, separated by commas, that sign the feed's key record.
// The build has checked the form and that each key is a point of the
// curve; the compiler checks the single key's length.
#include "engine/key_record.h"
#include "engine/signature.h"

#ifndef RELEASE_PUBLIC_KEY_HEX
#error "RELEASE_PUBLIC_KEY_HEX must be set by the build"
#endif

#ifndef RELEASE_ROOT_KEYS_HEX
#error "RELEASE_ROOT_KEYS_HEX must be set by the build"
#endif

extern const char RELEASE_PUBLIC_KEY[] = RELEASE_PUBLIC_KEY_HEX;
extern const char RELEASE_ROOT_KEYS[] = RELEASE_ROOT_KEYS_HEX;

static_assert(sizeof(RELEASE_PUBLIC_KEY) == 1 || sizeof(RELEASE_PUBLIC_KEY) == 129,
              "the publisher key is empty or 128 hexadecimal digits");

static_assert(sizeof(RELEASE_PUBLIC_KEY) == 1 || sizeof(RELEASE_ROOT_KEYS) == 1,
              "a single publisher key and root keys are never built in together");
