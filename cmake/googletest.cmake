# GoogleTest is built from Debian's source package (googletest) so the same
# tests build for Linux and for the mingw-w64 target.
set(PALISARD_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT EXISTS "${PALISARD_GTEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${PALISARD_GTEST_SOURCE}; install Debian's googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory("${PALISARD_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
# Built once a flavour and used only by the tests: without optimization, as
# the tests' own code (tests/CMakeLists.txt).
foreach(target gtest gtest_main gmock gmock_main)
  target_compile_options(${target} PRIVATE -O0)
endforeach()
