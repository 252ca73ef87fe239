# Makes the test suite's publisher key once per build tree, with OpenSSL,
# and writes a source that builds its public half into a test updater:
#   cmake -DKEY=<key.pem> -DPUBLIC=<key.pub> -DKEY_SOURCE=<release_key.cpp> -DOUT=<file> -P WriteTestKey.cmake
# The private key is a throwaway of the build tree; it signs test manifests.
if(NOT EXISTS "${KEY}")
  get_filename_component(folder "${KEY}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  execute_process(COMMAND openssl ecparam -genkey -name prime256v1 -noout -out "${KEY}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "openssl could not make the test signing key")
  endif()
endif()
execute_process(COMMAND openssl ec -in "${KEY}" -pubout -outform DER -out "${KEY}.der" RESULT_VARIABLE failed ERROR_QUIET)
if(failed)
  message(FATAL_ERROR "openssl could not read the test signing key ${KEY}")
endif()
# The DER form of a P-256 public key ends with the point: 04, X, Y.
file(READ "${KEY}.der" der HEX)
string(LENGTH "${der}" length)
math(EXPR start "${length} - 128")
string(SUBSTRING "${der}" ${start} 128 point)
file(WRITE "${PUBLIC}" "${point}")
include(${CMAKE_CURRENT_LIST_DIR}/WriteIfChanged.cmake)
write_if_changed("${OUT}" "// Generated at build time from ${KEY}.\n#define RELEASE_PUBLIC_KEY_HEX \"${point}\"\n#include \"${KEY_SOURCE}\"\n")
