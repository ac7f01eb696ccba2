# GoogleTest for a cross build, compiled from Debian's googletest source
# package (/usr/src/googletest) with the project's compiler, since the host's
# libraries cannot link into Windows programs.
set(PICTROVE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${PICTROVE_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${PICTROVE_GOOGLETEST_SOURCE} (Debian package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${PICTROVE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Our warning flags are for our code; GoogleTest's own code is not ours to fix.
set_property(TARGET gtest gtest_main PROPERTY COMPILE_OPTIONS -w)
