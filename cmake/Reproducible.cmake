# Reproducible builds: two builds of the same sources give byte-identical
# programs, whatever folder they lie in and whenever they are built.
#
# - The PE header's time stamp: SOURCE_DATE_EPOCH when the environment of
#   the configuration sets it (as packagers do), else none (0). The linker
#   would otherwise write the time of the link.
# - Absolute paths: the source and build folders are written as "." and
#   "build" wherever the compiler would record them (__FILE__, debug data).
# - __DATE__ and __TIME__: refused in product code (-Wdate-time with
#   -Werror, in PRODUCT_COMPILE_OPTIONS).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(QUENFAR8_PE_TIMESTAMP "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT QUENFAR8_PE_TIMESTAMP MATCHES "^[0-9]+$" OR QUENFAR8_PE_TIMESTAMP GREATER 4294967295)
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a count of seconds since 1970 that fits 32 bits; it is \"${QUENFAR8_PE_TIMESTAMP}\"")
  endif()
  # GNU ld reads the variable at each link: every link gets it, whatever the
  # environment of the build itself.
  set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUENFAR8_PE_TIMESTAMP})
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUENFAR8_PE_TIMESTAMP})
else()
  set(QUENFAR8_PE_TIMESTAMP 0)
  add_link_options(-Wl,--no-insert-timestamp)
endif()

# C and C++ only: the resource compiler knows no such option.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
