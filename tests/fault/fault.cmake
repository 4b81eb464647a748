# qzarc_fault_tests (Linux only), included by tests/CMakeLists.txt: the
# systematic fault sweeps (truncation, byte changes, heap allocation
# failures, full disk, unwritable output, volumes that vanish or shrink
# during a walk), the replay of the fuzz regression inputs, and hostile
# entry names through the command-line tool. Built against
# the library with its test instruments and the fuzz targets' walk checks.
add_executable(qzarc_fault_tests
    ${CMAKE_CURRENT_LIST_DIR}/allocation_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_names_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/corruption_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/environment_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/regression_test.cpp)
qzarc_test_program(qzarc_fault_tests)
target_include_directories(qzarc_fault_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(qzarc_fault_tests PRIVATE
    QZARC_FUZZ_REGRESSIONS="${PROJECT_SOURCE_DIR}/fuzz/regressions")
target_link_libraries(qzarc_fault_tests PRIVATE qzarc_core_testing)

# The command-line tool, when this tree builds it, for the hostile-name sweep.
if(TARGET qzarc_cli)
    add_dependencies(qzarc_fault_tests qzarc_cli)
    target_compile_definitions(qzarc_fault_tests PRIVATE QZARC_CLI="$<TARGET_FILE:qzarc_cli>")
endif()

add_test(NAME linux_fault COMMAND qzarc_fault_tests)
set_tests_properties(linux_fault PROPERTIES
    ENVIRONMENT "${QZARC_TEST_ENVIRONMENT}"
    TIMEOUT 1200)
