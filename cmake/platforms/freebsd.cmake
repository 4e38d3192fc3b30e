# What the FreeBSD releases share, for the release KELP_FREEBSD_RELEASE
# (major.minor) that freebsd14.cmake or freebsd15.cmake sets. clang's FreeBSD
# driver finds libc++'s headers, the crt files and the libraries in the
# sysroot by itself.
string(REGEX MATCH "^[0-9]+" kelp_freebsd_major "${KELP_FREEBSD_RELEASE}")
set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_VERSION ${KELP_FREEBSD_RELEASE})
set(CMAKE_SYSTEM_PROCESSOR amd64)
set(KELP_SYSROOT_NAME freebsd${kelp_freebsd_major})
set(KELP_TARGET x86_64-unknown-freebsd${kelp_freebsd_major})
# FreeBSD keeps the .pc files of packages in libdata/pkgconfig.
set(KELP_PKGCONFIG_DIR usr/local/libdata/pkgconfig)
include(${CMAKE_CURRENT_LIST_DIR}/kit.cmake)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -fuse-ld=lld")
