// The digest of the accepted patch tool. The build passes it in: the
// released updater pins the distributed hpatchz.exe, a test build pins the
// test suite's own tool.
#include "engine/staging.h"

#ifndef PATCH_TOOL_DIGEST
#error "PATCH_TOOL_DIGEST must be set by the build"
#endif

#define WIDEN_(text) L##text
#define WIDEN(text) WIDEN_(text)

extern const wchar_t PATCH_TOOL_SHA256[] = WIDEN(PATCH_TOOL_DIGEST);

static_assert(sizeof(PATCH_TOOL_SHA256) / sizeof(PATCH_TOOL_SHA256[0]) == 65,
              "the pinned digest must be 64 hexadecimal digits");
