# The Windows build, cross-compiled with cmake/mingw-w64-x86_64.cmake and
# tested under wine. Included by the top CMakeLists.txt instead of its own
# subsystem loops while not every subsystem runs on Windows yet.

# Subsystems that build and pass their tests on Windows, leaves first.
# ui has the none way only there (the graphical windows module is not built).
set(VLT_WIN32_SUBSYSTEMS encoding common sysinfo net smtp pop3 ui app)

foreach(sub IN LISTS VLT_WIN32_SUBSYSTEMS)
  add_subdirectory(src/${sub})
endforeach()

# The executable's resources: icon, manifest (per-monitor DPI aware, common
# controls 6) and version information, compiled by the toolchain's windres.
enable_language(RC)
set(VLT_RC_ICON ${PROJECT_SOURCE_DIR}/packaging/windows/vellumtide.ico)
set(VLT_RC_MANIFEST ${PROJECT_BINARY_DIR}/vellumtide.manifest)
set(VLT_RC_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
set(VLT_RC_VERSION_COMMAS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
# The credit line the usage text ends with.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/app/run.h VLT_RC_CREDIT_LINE REGEX "kCreditLine = ")
string(REGEX REPLACE ".*kCreditLine = \"([^\"]*)\".*" "\\1" VLT_RC_CREDIT "${VLT_RC_CREDIT_LINE}")
configure_file(packaging/windows/vellumtide.manifest ${VLT_RC_MANIFEST} @ONLY)
configure_file(packaging/windows/vellumtide.rc.in ${PROJECT_BINARY_DIR}/vellumtide.rc @ONLY)

add_executable(vellumtide src/main.cpp ${PROJECT_BINARY_DIR}/vellumtide.rc)
target_link_libraries(vellumtide PRIVATE vlt_app)
set_property(SOURCE ${PROJECT_BINARY_DIR}/vellumtide.rc APPEND PROPERTY OBJECT_DEPENDS
             ${VLT_RC_ICON} ${VLT_RC_MANIFEST})

if(VLT_TESTS)
  enable_testing()
  # Debian's GoogleTest package holds Linux libraries only; its sources in
  # /usr/src/googletest are built here with the same toolchain.
  set(VLT_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
  if(NOT EXISTS ${VLT_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${VLT_GTEST_SOURCE_DIR} (package googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${VLT_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Not our code: the project's warning flags do not apply to it.
  foreach(lib gtest gtest_main gmock gmock_main)
    target_compile_options(${lib} PRIVATE -w)
  endforeach()

  # ctest runs each test program under wine in the build folder's own prefix
  # (made by scripts/wine-env.sh). The test cases are listed when ctest runs,
  # not when the build does, so building needs no wine.
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${PROJECT_BINARY_DIR}/wine-prefix)
  endif()
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

  foreach(sub IN LISTS VLT_WIN32_SUBSYSTEMS)
    add_subdirectory(tests/${sub})
  endforeach()
endif()
