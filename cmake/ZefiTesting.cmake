# zefi_add_test(NAME SOURCES src... LIBRARIES lib...)
# One GoogleTest executable, registered with CTest test by test.
function(zefi_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${ZEFI_SOURCE_ROOT})
  target_compile_definitions(${name} PRIVATE
    ZEFI_SOURCE_DIR="${ZEFI_SOURCE_ROOT}"
    ZEFI_CORPUS_DIR="${ZEFI_CORPUS_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()
