# Cross build for illumos, amd64, with Debian's clang and lld.
set(CMAKE_SYSTEM_NAME SunOS)
set(CMAKE_SYSTEM_VERSION 5.11)
# What uname -p says there, on 64-bit machines too.
set(CMAKE_SYSTEM_PROCESSOR i386)
set(KELP_SYSROOT_NAME illumos)
set(KELP_TARGET x86_64-pc-solaris2.11)
set(KELP_PKGCONFIG_DIR usr/local/lib/pkgconfig)
include(${CMAKE_CURRENT_LIST_DIR}/kit.cmake)
# clang's Solaris driver knows no libc++ header path (it would take the
# host's) and passes the Solaris link-editor a -C that ld.lld rejects, which
# the sysroot's ld.lld wrapper drops. The interpreter is the one an illumos
# program names.
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${CMAKE_SYSROOT}/usr/include/c++/v1")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
       " --ld-path=${CMAKE_SYSROOT}/bin/ld.lld -Wl,-dynamic-linker,/usr/lib/amd64/ld.so.1")
