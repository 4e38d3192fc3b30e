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
  add_library(${name}_platform OBJECT ${arg_BACKEND} ${arg_PLATFORM}/kernel.cpp ${KELP_FAKEPLAT}/system.cpp)
  target_include_directories(${name}_platform BEFORE PRIVATE ${arg_INCLUDE})
  target_link_libraries(${name}_platform PRIVATE kelp_core)

  add_executable(${name} ${arg_SOURCES} $<TARGET_OBJECTS:${name}_platform>)
  target_include_directories(${name} PRIVATE ${arg_PLATFORM} ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(${name} PRIVATE kelp_core GTest::gtest GTest::gtest_main)
  # The FreeBSD releases run the same tests: the prefix keeps their names apart.
  gtest_discover_tests(${name} TEST_PREFIX ${name}. DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)
  add_test(NAME ${name}.whole COMMAND ${name})
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

kelp_platform_test(stat_freebsd14_test
  BACKEND ${PROJECT_SOURCE_DIR}/src/stat/stat_freebsd.cpp
  PLATFORM ${KELP_FAKEPLAT}/freebsd
  INCLUDE ${KELP_FAKEPLAT}/freebsd/release14 ${KELP_FAKEPLAT}/freebsd/include
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stat_freebsd_test.cpp ${CMAKE_CURRENT_LIST_DIR}/stat_freebsd14_test.cpp)

kelp_platform_test(stat_sunos_test
  BACKEND ${PROJECT_SOURCE_DIR}/src/stat/stat_sunos.cpp
  PLATFORM ${KELP_FAKEPLAT}/sunos
  INCLUDE ${KELP_FAKEPLAT}/sunos/include
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stat_sunos_test.cpp)

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
