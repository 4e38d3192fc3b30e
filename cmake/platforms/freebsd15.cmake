# Cross build for FreeBSD 15.0, amd64, with Debian's clang and lld.
set(KELP_FREEBSD_RELEASE 15.0)
include(${CMAKE_CURRENT_LIST_DIR}/freebsd.cmake)
