# GoogleTest for a cross build: Debian ships only host binaries of it, so the tests of a
# Windows build compile it from the sources that the googletest package installs. This
# gives the same GTest::gtest and GTest::gtest_main targets that find_package(GTest) gives
# on the host.
set(TQ5_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS "${TQ5_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources not found in ${TQ5_GTEST_SOURCE_DIR} "
                        "(Debian package: googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# SYSTEM: our warning flags (-Werror among them) don't apply to GoogleTest's headers.
add_subdirectory(${TQ5_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
