# vlt_add_test(name SOURCES a.cpp b.cpp LIBS vlt_x ...)
# Builds one GoogleTest executable for one area and registers its cases with CTest.
function(vlt_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS unit)
endfunction()

# vlt_add_script_test(name COMMAND ...): a test run by a script (real servers,
# windows, the terminal); labelled "system" so the sanitizer pass skips it.
# A script exits 77 when a tool it needs is missing: CTest counts it as skipped.
function(vlt_add_script_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES LABELS system TIMEOUT ${T_TIMEOUT} SKIP_RETURN_CODE 77
    ENVIRONMENT "VLT_BUILD_DIR=${PROJECT_BINARY_DIR};VLT_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
