# What the three cross toolchains share: where the sysroots lie, Debian's
# clang and lld, libc++, and pkg-config reading the target's .pc files.
# Included by freebsd14.cmake, freebsd15.cmake and illumos.cmake after they
# set KELP_SYSROOT_NAME and KELP_TARGET.
#
# KELP_PLATFORMS is the folder holding the sysroots, by default
# ../shared/platforms beside the source tree (-DKELP_PLATFORMS=... to move it).
if(NOT KELP_PLATFORMS)
  get_filename_component(KELP_PLATFORMS "${CMAKE_CURRENT_LIST_DIR}/../../../shared/platforms" ABSOLUTE)
endif()
set(KELP_PLATFORMS "${KELP_PLATFORMS}" CACHE PATH "Folder holding the cross-build sysroots")
# try_compile reads this file again in a project of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELP_PLATFORMS)

set(CMAKE_SYSROOT "${KELP_PLATFORMS}/${KELP_SYSROOT_NAME}")
if(NOT IS_DIRECTORY "${CMAKE_SYSROOT}/usr/include")
  message(FATAL_ERROR "No ${KELP_SYSROOT_NAME} sysroot in ${KELP_PLATFORMS}: the cross-build kit is absent")
endif()

set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${KELP_TARGET})
# Debian's clang links libstdc++ by default, whatever the target.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-stdlib=libc++")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# gd is found as on the target: its gdlib.pc, with the sysroot put before the
# paths it names. Nothing of the host's is looked at.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR} "${CMAKE_SYSROOT}/${KELP_PKGCONFIG_DIR}")
set(ENV{PKG_CONFIG_PATH} "")
