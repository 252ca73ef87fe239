# Writes a source file that pins the SHA-256 of the built test patch tool and
# then compiles the program's pin source with it. Run at build time:
#   cmake -DTOOL=<path of the tool> -DPIN_SOURCE=<pin source> -DOUT=<file> -P WriteToolDigest.cmake
file(SHA256 "${TOOL}" digest)
set(text "// Generated at build time from ${TOOL}.\n#define PATCH_TOOL_DIGEST \"${digest}\"\n#include \"${PIN_SOURCE}\"\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE "${OUT}" "${text}")
endif()
