# What the FreeBSD releases share; clang's FreeBSD driver finds libc++'s
# headers, the crt files and the libraries in the sysroot by itself.
# FreeBSD keeps the .pc files of packages in libdata/pkgconfig.
set(KELP_PKGCONFIG_DIR usr/local/libdata/pkgconfig)
include(${CMAKE_CURRENT_LIST_DIR}/kit.cmake)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -fuse-ld=lld")
