# The FreeBSD and Solaris backends, built here against simulated platforms
# (tests/fakeplat): the backend source and the simulated kernel see the
# simulated system headers first; the tests see only the kernel's plain C++
# interface. The four backend operations share their names, so each backend
# gets an executable of its own.
set(KELP_FAKEPLAT ${CMAKE_CURRENT_LIST_DIR}/../fakeplat)

# kelp_platform_test(<name> <tests> <backend> <platform dir> <include dirs...>):
# the tests over the backend built against the platform.
function(kelp_platform_test name tests backend platform)
  add_library(${name}_platform OBJECT ${PROJECT_SOURCE_DIR}/src/stat/${backend} ${platform}/kernel.cpp
    ${KELP_FAKEPLAT}/system.cpp)
  target_include_directories(${name}_platform BEFORE PRIVATE ${ARGN})
  target_link_libraries(${name}_platform PRIVATE kelp_core)

  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${tests} $<TARGET_OBJECTS:${name}_platform>)
  target_include_directories(${name} PRIVATE ${platform} ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(${name} PRIVATE kelp_core GTest::gtest GTest::gtest_main)
  # The FreeBSD releases run the same tests: the prefix keeps their names apart.
  gtest_discover_tests(${name} TEST_PREFIX ${name}. DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)
  add_test(NAME ${name}.whole COMMAND ${name})
endfunction()

# Release 4, releases 5 to 10, and 11 and later.
foreach(release 4 5 14)
  kelp_platform_test(stat_freebsd${release}_test stat_freebsd_test.cpp stat_freebsd.cpp ${KELP_FAKEPLAT}/freebsd
    ${KELP_FAKEPLAT}/freebsd/release${release} ${KELP_FAKEPLAT}/freebsd/include)
  target_compile_definitions(stat_freebsd${release}_test PRIVATE KELP_FAKE_FREEBSD_RELEASE=${release})
endforeach()
kelp_platform_test(stat_sunos_test stat_sunos_test.cpp stat_sunos.cpp ${KELP_FAKEPLAT}/sunos ${KELP_FAKEPLAT}/sunos/include)

# The Solaris backend as a 32-bit Solaris C++ compiler sees it: large-file
# environment and no _LP64 (undefined here, since this host is 64-bit). The
# simulated <sys/swap.h> must refuse plain code in that environment, or this
# compile would prove nothing.
set(KELP_SOLARIS32 -U_LP64 -U__LP64__ -D_FILE_OFFSET_BITS=64)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/swap_guard.cpp "#include <sys/swap.h>\nint main() { return 0; }\n")
try_compile(KELP_SWAP_GUARD_MISSING ${CMAKE_CURRENT_BINARY_DIR}/swap_guard
  SOURCES ${CMAKE_CURRENT_BINARY_DIR}/swap_guard.cpp
  COMPILE_DEFINITIONS ${KELP_SOLARIS32} -I${KELP_FAKEPLAT}/sunos/include)
if(KELP_SWAP_GUARD_MISSING)
  message(FATAL_ERROR "the simulated <sys/swap.h> compiles in the 32-bit large-file environment")
endif()
add_library(stat_sunos_largefile OBJECT ${PROJECT_SOURCE_DIR}/src/stat/stat_sunos.cpp)
target_include_directories(stat_sunos_largefile BEFORE PRIVATE ${KELP_FAKEPLAT}/sunos/include)
target_link_libraries(stat_sunos_largefile PRIVATE kelp_core)
target_compile_options(stat_sunos_largefile PRIVATE ${KELP_SOLARIS32})
add_dependencies(stat_sunos_test stat_sunos_largefile)
