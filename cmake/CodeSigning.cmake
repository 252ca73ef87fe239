# Authenticode signing of the shipped programs with the publisher's
# code-signing certificate. Without CODE_SIGNING_PFX or CODE_SIGNING_CERT
# nothing is signed and nothing changes.
#
#   CODE_SIGNING_PFX            a PKCS#12 file with the certificate chain and
#                               the key; its password comes from the
#                               environment variable CODE_SIGNING_PASSWORD at
#                               build time and is never stored
#   CODE_SIGNING_CERT, _KEY     or the chain and the key in PEM (the key's
#                               password, if any, from the same variable)
#   CODE_SIGNING_TIMESTAMP_URL  an RFC 3161 time-stamp service; empty: none
#   CODE_SIGNING_URL            the URL the signature names beside the
#                               program's name; empty: none
#   CODE_SIGNING_CAFILE         the authorities the build's check of each
#                               signature (and time stamp) trusts; empty:
#                               the build machine's own
#
# Signing is each program's very last build step (osslsigncode, SHA-256),
# and the signature is verified right after; any problem fails the build and
# removes the program, so that no later build takes it for done.
set(CODE_SIGNING_PFX "" CACHE FILEPATH "PKCS#12 file to sign the programs with (password: environment CODE_SIGNING_PASSWORD)")
set(CODE_SIGNING_CERT "" CACHE FILEPATH "PEM certificate chain to sign the programs with (with CODE_SIGNING_KEY)")
set(CODE_SIGNING_KEY "" CACHE FILEPATH "PEM private key of CODE_SIGNING_CERT")
set(CODE_SIGNING_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp service for the signatures, or empty")
set(CODE_SIGNING_URL "" CACHE STRING "URL the signatures name beside the program's name, or empty")
set(CODE_SIGNING_CAFILE "" CACHE FILEPATH "Authorities that the check of each signature trusts; empty: the system's")

# A password given as a setting would be stored in the cache for anyone
# who reads the build tree: refuse it, and take it out of the cache.
if(DEFINED CACHE{CODE_SIGNING_PASSWORD} OR DEFINED CODE_SIGNING_PASSWORD)
  unset(CODE_SIGNING_PASSWORD CACHE)
  message(FATAL_ERROR "Code signing: give the password in the environment variable CODE_SIGNING_PASSWORD when you "
                      "build, not as a CMake setting (it would be stored in the build tree's cache)")
endif()

set(CODE_SIGNING OFF)
if(NOT CODE_SIGNING_PFX STREQUAL "" OR NOT CODE_SIGNING_CERT STREQUAL "" OR NOT CODE_SIGNING_KEY STREQUAL "")
  set(CODE_SIGNING ON)
  if(NOT CODE_SIGNING_PFX STREQUAL "" AND NOT (CODE_SIGNING_CERT STREQUAL "" AND CODE_SIGNING_KEY STREQUAL ""))
    message(FATAL_ERROR "Code signing: set CODE_SIGNING_PFX, or CODE_SIGNING_CERT and CODE_SIGNING_KEY, not both")
  endif()
  if(CODE_SIGNING_PFX STREQUAL "" AND (CODE_SIGNING_CERT STREQUAL "" OR CODE_SIGNING_KEY STREQUAL ""))
    message(FATAL_ERROR "Code signing: CODE_SIGNING_CERT and CODE_SIGNING_KEY go together")
  endif()
  foreach(setting CODE_SIGNING_PFX CODE_SIGNING_CERT CODE_SIGNING_KEY CODE_SIGNING_CAFILE)
    if(NOT ${setting} STREQUAL "" AND NOT EXISTS "${${setting}}")
      message(FATAL_ERROR "Code signing: ${setting} names no file: ${${setting}}")
    endif()
  endforeach()
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "Code signing needs osslsigncode (scripts/setup.sh installs it)")
  endif()
  message(STATUS "Code signing: the programs are signed and verified as the last build step")
endif()

# sign_executable(<target> <program name>): signs the target's file after
# each link, when code signing is set up.
function(sign_executable target program_name)
  if(NOT CODE_SIGNING)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${PROJECT_SOURCE_DIR}/cmake/sign-exe.sh ${OSSLSIGNCODE} $<TARGET_FILE:${target}> "${program_name}"
            "${CODE_SIGNING_URL}" "${CODE_SIGNING_PFX}" "${CODE_SIGNING_CERT}" "${CODE_SIGNING_KEY}"
            "${CODE_SIGNING_TIMESTAMP_URL}" "${CODE_SIGNING_CAFILE}"
    COMMENT "Signing and verifying $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
