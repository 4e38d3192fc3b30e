# The FreeBSD and Solaris backends, built here against simulated platforms
# (tests/fakeplat): the backend source and the simulated kernel see the
# simulated system headers first; the tests see only the kernel's plain C++
# interface. The four backend operations share their names, so each backend
# gets an executable of its own.
set(KELP_FAKEPLAT ${CMAKE_CURRENT_LIST_DIR}/../fakeplat)

# kelp_platform_test(<name> BACKEND <source> PLATFORM <dir> INCLUDE <dirs...>
#                    SOURCES <tests...>)
function(kelp_platform_test name)
  cmake_parse_arguments(arg "" "BACKEND;PLATFORM" "INCLUDE;SOURCES" ${ARGN})
  add_library(${name}_platform OBJECT ${arg_BACKEND} ${arg_PLATFORM}/kernel.cpp)
  target_include_directories(${name}_platform BEFORE PRIVATE ${arg_INCLUDE})
  target_link_libraries(${name}_platform PRIVATE kelp_core)

  add_executable(${name} ${arg_SOURCES} $<TARGET_OBJECTS:${name}_platform>)
  target_include_directories(${name} PRIVATE ${arg_PLATFORM})
  target_link_libraries(${name} PRIVATE kelp_core GTest::gtest GTest::gtest_main)
  # Both FreeBSD releases run the same tests: the prefix keeps their names apart.
  gtest_discover_tests(${name} TEST_PREFIX ${name}. DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)
endfunction()

kelp_platform_test(stat_freebsd_test
  BACKEND ${PROJECT_SOURCE_DIR}/src/stat/stat_freebsd.cpp
  PLATFORM ${KELP_FAKEPLAT}/freebsd
  INCLUDE ${KELP_FAKEPLAT}/freebsd/release5 ${KELP_FAKEPLAT}/freebsd/include
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stat_freebsd_test.cpp)

kelp_platform_test(stat_freebsd4_test
  BACKEND ${PROJECT_SOURCE_DIR}/src/stat/stat_freebsd.cpp
  PLATFORM ${KELP_FAKEPLAT}/freebsd
  INCLUDE ${KELP_FAKEPLAT}/freebsd/release4 ${KELP_FAKEPLAT}/freebsd/include
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stat_freebsd_test.cpp ${CMAKE_CURRENT_LIST_DIR}/stat_freebsd4_test.cpp)

kelp_platform_test(stat_sunos_test
  BACKEND ${PROJECT_SOURCE_DIR}/src/stat/stat_sunos.cpp
  PLATFORM ${KELP_FAKEPLAT}/sunos
  INCLUDE ${KELP_FAKEPLAT}/sunos/include
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stat_sunos_test.cpp)
