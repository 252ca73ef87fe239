# Makes test keys once per build tree, with OpenSSL, and writes a source
# that builds their public halves into a test updater:
#   cmake -DKEYS=<a.pem>[,<b.pem>...] -DROLE=signing|roots -DKEY_SOURCE=<release_key.cpp> -DOUT=<file>
#         -P WriteTestKey.cmake
# Each key's public point (128 hexadecimal digits) is written beside it as
# <key>.pub. ROLE signing builds the one key in as the single publisher
# key, ROLE roots builds every key in as a pinned root. The private keys are
# throwaways of the build tree; they sign test manifests and key records.
string(REPLACE "," ";" key_files "${KEYS}")
set(points "")
foreach(key IN LISTS key_files)
  if(NOT EXISTS "${key}")
    get_filename_component(folder "${key}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    execute_process(COMMAND openssl ecparam -genkey -name prime256v1 -noout -out "${key}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "openssl could not make the test key ${key}")
    endif()
  endif()
  execute_process(COMMAND openssl ec -in "${key}" -pubout -outform DER -out "${key}.der" RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    message(FATAL_ERROR "openssl could not read the test key ${key}")
  endif()
  # The DER form of a P-256 public key ends with the point: 04, X, Y.
  file(READ "${key}.der" der HEX)
  string(LENGTH "${der}" length)
  math(EXPR start "${length} - 128")
  string(SUBSTRING "${der}" ${start} 128 point)
  string(REGEX REPLACE "\\.pem$" "" stem "${key}")
  file(WRITE "${stem}.pub" "${point}")
  list(APPEND points "${point}")
endforeach()
set(single "")
set(roots "")
if(ROLE STREQUAL "signing")
  set(single "${points}")
else()
  string(REPLACE ";" "," roots "${points}")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/WriteIfChanged.cmake)
write_if_changed("${OUT}" "// Generated at build time from ${KEYS}.\n#define RELEASE_PUBLIC_KEY_HEX \"${single}\"\n#define RELEASE_ROOT_KEYS_HEX \"${roots}\"\n#include \"${KEY_SOURCE}\"\n")
