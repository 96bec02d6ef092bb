# vlt_add_test(test_<sub> SOURCES a.cpp b.cpp LIBS vlt_x ...)
# Builds the one GoogleTest executable of the folder tests/<sub> and registers
# its cases with CTest. The executable sees the public headers of the
# libraries it links, the shared helpers under tests/ ("support/..."), and the
# private headers of its own library vlt_<sub> (see vlt_headers).
function(vlt_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  get_filename_component(sub ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  if(NOT name STREQUAL "test_${sub}")
    message(FATAL_ERROR "tests/${sub} builds one test executable, named test_${sub}, not ${name}")
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(TARGET vlt_${sub})
    get_target_property(private_dir vlt_${sub} VLT_PRIVATE_INCLUDE_DIR)
    if(private_dir)
      target_include_directories(${name} PRIVATE ${private_dir})
    endif()
  endif()
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
