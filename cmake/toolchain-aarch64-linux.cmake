# The native release tool for 64-bit ARM Linux (arm64), cross-built with
# Debian's aarch64-linux-gnu compiler against the arm64 libraries of a
# multiarch system (libssl-dev:arm64, libcurl4-openssl-dev:arm64). Its
# tests run it under qemu-user (scripts/arm64-lane.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Libraries and headers from the arm64 multiarch folders, programs from
# the build machine.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
# The build machine's own libraries share /usr with the arm64 ones: keep
# the searches (and pkg-config's) off them.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu /usr/include/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
