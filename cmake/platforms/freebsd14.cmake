# Cross build for FreeBSD 14.2, amd64, with Debian's clang and lld.
set(KELP_FREEBSD_RELEASE 14.2)
include(${CMAKE_CURRENT_LIST_DIR}/freebsd.cmake)
