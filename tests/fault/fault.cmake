# qzarc_fault_tests (Linux only), included by tests/CMakeLists.txt: the
# systematic fault sweeps (truncation, byte changes, heap allocation
# failures, full disk, unwritable output, volumes that vanish or shrink
# during a walk), the replay of the fuzz regression inputs, and hostile
# entry names through the command-line tool. Built against
# the library with its test instruments and the fuzz targets' walk checks.
file(GLOB QZARC_FAULT_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
list(SORT QZARC_FAULT_SOURCES)
set(QZARC_FUZZ_DIR ${PROJECT_SOURCE_DIR}/fuzz)

add_executable(qzarc_fault_tests ${QZARC_FAULT_SOURCES}
    ${QZARC_FUZZ_DIR}/archive_input.cpp
    ${QZARC_FUZZ_DIR}/archive_walker.cpp
    ${QZARC_FUZZ_DIR}/fuzz_files.cpp
    ${QZARC_FUZZ_DIR}/inflater_run.cpp
    ${QZARC_FUZZ_DIR}/reference_archive.cpp)
qzarc_test_program(qzarc_fault_tests)
target_include_directories(qzarc_fault_tests PRIVATE ${QZARC_FUZZ_DIR} ${CMAKE_CURRENT_LIST_DIR}
                                                     ${PROJECT_SOURCE_DIR}/tests/unit)
target_compile_definitions(qzarc_fault_tests PRIVATE
    QZARC_FUZZ_REGRESSIONS="${QZARC_FUZZ_DIR}/regressions")
target_link_libraries(qzarc_fault_tests PRIVATE qzarc_trace qzarc_core_testing)

# The command-line tool, when this tree builds it, for the hostile-name sweep.
if(TARGET qzarc_cli)
    add_dependencies(qzarc_fault_tests qzarc_cli)
    target_compile_definitions(qzarc_fault_tests PRIVATE QZARC_CLI="$<TARGET_FILE:qzarc_cli>")
endif()

add_test(NAME linux_fault COMMAND qzarc_fault_tests)
set_tests_properties(linux_fault PROPERTIES
    ENVIRONMENT "${QZARC_TEST_ENVIRONMENT}"
    TIMEOUT 1200)
