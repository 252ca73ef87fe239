# Writes a source file that pins the SHA-256 of the built test patch tool and
# then compiles the program's pin source with it. Run at build time:
#   cmake -DTOOL=<path of the tool> -DPIN_SOURCE=<pin source> -DOUT=<file> -P WriteToolDigest.cmake
include(${CMAKE_CURRENT_LIST_DIR}/WriteIfChanged.cmake)
file(SHA256 "${TOOL}" digest)
write_if_changed("${OUT}" "// Generated at build time from ${TOOL}.\n#define PATCH_TOOL_DIGEST \"${digest}\"\n#include \"${PIN_SOURCE}\"\n")
