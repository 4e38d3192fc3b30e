# Cross build for FreeBSD 14.2, amd64, with Debian's clang and lld.
set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_VERSION 14.2)
set(CMAKE_SYSTEM_PROCESSOR amd64)
set(KELP_SYSROOT_NAME freebsd14)
set(KELP_TARGET x86_64-unknown-freebsd14)
include(${CMAKE_CURRENT_LIST_DIR}/freebsd.cmake)
