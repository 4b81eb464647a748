# The test support both the test programs (tests/) and the fuzz build
# (fuzz/) link, all of it in tests/support; included after
# cmake/qzarc_library.cmake:
#   archive and Deflate builders, generated sample data, the 7-Zip data
#   reader, the zip reader, the fuzz input layout, the reference archive
#   and the archive seeds, the handle API's walk and its comparison with
#   the legacy exports,
#   the raw streams of the inflater seeds and the block-start decoys,
#   the slice traces that compare the fast paths with the exact ones and
#   the walks that compare reading on several threads with reading on one
#   (both for programs linking a core made with TESTING), and (POSIX only) the
#   archive walk and the inflater run with the guarantees checked after
#   every call, and the files they write.
#
# qzarc_add_test_support(NAME [OPTIONS flag...]) makes one such static
# library; OPTIONS are further compile options (the fuzz build's
# sanitizers). What calls the library resolves against whichever library
# the program links: the shipped one, or a core made with TESTING.

set(QZARC_TEST_SUPPORT_DIR ${QZARC_ROOT}/tests/support)
set(QZARC_TEST_SUPPORT_SOURCES
    ${QZARC_TEST_SUPPORT_DIR}/archive_input.cpp
    ${QZARC_TEST_SUPPORT_DIR}/archive_seeds.cpp
    ${QZARC_TEST_SUPPORT_DIR}/deflate_builder.cpp
    ${QZARC_TEST_SUPPORT_DIR}/handle_walk.cpp
    ${QZARC_TEST_SUPPORT_DIR}/parallel_check.cpp
    ${QZARC_TEST_SUPPORT_DIR}/parallel_seeds.cpp
    ${QZARC_TEST_SUPPORT_DIR}/raw_streams.cpp
    ${QZARC_TEST_SUPPORT_DIR}/reference_archive.cpp
    ${QZARC_TEST_SUPPORT_DIR}/sample_data.cpp
    ${QZARC_TEST_SUPPORT_DIR}/seven_zip_data.cpp
    ${QZARC_TEST_SUPPORT_DIR}/slice_trace.cpp
    ${QZARC_TEST_SUPPORT_DIR}/test_support.cpp
    ${QZARC_TEST_SUPPORT_DIR}/zip_reader.cpp)
if(NOT WIN32)
    list(APPEND QZARC_TEST_SUPPORT_SOURCES
        ${QZARC_TEST_SUPPORT_DIR}/archive_walker.cpp
        ${QZARC_TEST_SUPPORT_DIR}/fuzz_files.cpp
        ${QZARC_TEST_SUPPORT_DIR}/inflater_run.cpp)
endif()

function(qzarc_add_test_support name)
    cmake_parse_arguments(PARSE_ARGV 1 SUPPORT "" "" "OPTIONS")
    add_library(${name} STATIC ${QZARC_TEST_SUPPORT_SOURCES})
    target_include_directories(${name}
        PUBLIC ${QZARC_TEST_SUPPORT_DIR} ${QZARC_ROOT}/include
        PRIVATE ${QZARC_ROOT}/src)
    # QZARC_TEST_HOOKS: the platform layer's instruments are declared.
    # QZARC_BUILDING: the entry points are declared as plain functions, so
    # that a Windows program may take them from the DLL's import library or
    # from a core linked in statically.
    target_compile_definitions(${name} PRIVATE QZARC_TEST_HOOKS QZARC_BUILDING)
    target_compile_options(${name} PRIVATE ${SUPPORT_OPTIONS})
    target_link_libraries(${name} PUBLIC qzarc_writer PRIVATE qzarc_warnings)
endfunction()
