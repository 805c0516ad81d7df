# GoogleTest as the system installed it where there is one; otherwise, and
# always for the Windows cross build (the system's libraries are built for
# Linux), from the system's sources with this project's compiler.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
if(TARGET GTest::gtest_main)
  message(STATUS "GoogleTest: the system's libraries")
else()
  message(STATUS "GoogleTest: built from /usr/src/googletest")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
