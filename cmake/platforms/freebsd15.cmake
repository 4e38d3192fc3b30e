# Cross build for FreeBSD 15.0, amd64, with Debian's clang and lld.
set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_VERSION 15.0)
set(CMAKE_SYSTEM_PROCESSOR amd64)
set(KELP_SYSROOT_NAME freebsd15)
set(KELP_TARGET x86_64-unknown-freebsd15)
include(${CMAKE_CURRENT_LIST_DIR}/freebsd.cmake)
