# The one description of the library's code, included by the main build
# (CMakeLists.txt, and so the sanitizer tree too) and by the fuzz build
# (fuzz/CMakeLists.txt):
#   qzarc_crypto                 CRC-32 and the entry cipher (library and writer)
#   qzarc_add_core(name ...)     the library's code as a static or object library
#   qzarc_writer                 the archive writer (tests, tools, the CLI)
#   qzarc_warnings               -Wall -Wextra -Werror for all of our own code
#
# Library code includes its headers by their path below src/
# ("archive/record.h"); src/ and include/ are its include path, private to
# each library target. Only the targets that exist to test internals
# (TESTING below) hand src/ on to what links them.

get_filename_component(QZARC_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

set(QZARC_CRYPTO_SOURCES
    ${QZARC_ROOT}/src/crypto/cipher.cpp
    ${QZARC_ROOT}/src/crypto/crc32.cpp)

set(QZARC_EXPORT_SOURCES
    ${QZARC_ROOT}/src/export/dllmain.cpp
    ${QZARC_ROOT}/src/export/exports.cpp
    ${QZARC_ROOT}/src/export/handle_api.cpp
    ${QZARC_ROOT}/src/export/legacy_state.cpp)

set(QZARC_ARCHIVE_SOURCES
    ${QZARC_ROOT}/src/archive/archive_reader.cpp
    ${QZARC_ROOT}/src/archive/extract_compressed.cpp
    ${QZARC_ROOT}/src/archive/extract_entry.cpp
    ${QZARC_ROOT}/src/archive/extract_stored.cpp
    ${QZARC_ROOT}/src/archive/entry_name.cpp
    ${QZARC_ROOT}/src/archive/handle_read.cpp
    ${QZARC_ROOT}/src/archive/parallel_read.cpp
    ${QZARC_ROOT}/src/archive/handle_walk.cpp
    ${QZARC_ROOT}/src/archive/host_callback.cpp
    ${QZARC_ROOT}/src/archive/open_archive.cpp
    ${QZARC_ROOT}/src/archive/record_walk.cpp
    ${QZARC_ROOT}/src/archive/stored_copier.cpp
    ${QZARC_ROOT}/src/archive/unpack_state.cpp
    ${QZARC_ROOT}/src/archive/volumes.cpp)

set(QZARC_INFLATE_SOURCES
    ${QZARC_ROOT}/src/inflate/bit_input.cpp
    ${QZARC_ROOT}/src/inflate/block_search.cpp
    ${QZARC_ROOT}/src/inflate/stretch_decode.cpp
    ${QZARC_ROOT}/src/inflate/code_table.cpp
    ${QZARC_ROOT}/src/inflate/coded_blocks.cpp
    ${QZARC_ROOT}/src/inflate/fast_decode.cpp
    ${QZARC_ROOT}/src/inflate/inflate_stream.cpp
    ${QZARC_ROOT}/src/inflate/marker_resolve.cpp
    ${QZARC_ROOT}/src/inflate/stored_block.cpp
    ${QZARC_ROOT}/src/inflate/window.cpp)

# The message box has a file of its own: the fuzz build puts a silent one
# in its place.
set(QZARC_MESSAGEBOX_SOURCE ${QZARC_ROOT}/src/platform/posix_messagebox.cpp)
set(QZARC_PLATFORM_SOURCES
    ${QZARC_ROOT}/src/platform/posix_codepage.cpp
    ${QZARC_ROOT}/src/platform/posix_errors.cpp
    ${QZARC_ROOT}/src/platform/posix_files.cpp
    ${QZARC_ROOT}/src/platform/posix_heap.cpp
    ${QZARC_ROOT}/src/platform/posix_strings.cpp
    ${QZARC_ROOT}/src/platform/posix_test_hooks.cpp
    ${QZARC_ROOT}/src/platform/posix_threads.cpp
    ${QZARC_ROOT}/src/platform/posix_time.cpp
    ${QZARC_ROOT}/src/platform/win32_test_hooks.cpp)

set(QZARC_WRITER_SOURCES
    ${QZARC_ROOT}/src/writer/deflate.cpp
    ${QZARC_ROOT}/src/writer/interior_split.cpp
    ${QZARC_ROOT}/src/writer/record.cpp
    ${QZARC_ROOT}/src/writer/volumes.cpp)

if(NOT TARGET qzarc_warnings)
    add_library(qzarc_warnings INTERFACE)
    target_compile_options(qzarc_warnings INTERFACE -Wall -Wextra -Werror)
endif()

# The code page tables of the POSIX platform layer (and of the command
# line's names), made at build time from the C library's converters
# (src/platform/make_codepage_tables.cpp); Windows converts code pages
# itself. QZARC_CODEPAGE_DIR holds codepage_tables.inc once the target
# qzarc_codepage_tables has run.
set(QZARC_CODEPAGE_DIR ${CMAKE_BINARY_DIR}/generated/codepages)
if(NOT WIN32 AND NOT TARGET qzarc_codepage_tables)
    add_executable(make_codepage_tables ${QZARC_ROOT}/src/platform/make_codepage_tables.cpp)
    target_link_libraries(make_codepage_tables PRIVATE qzarc_warnings)
    add_custom_command(OUTPUT ${QZARC_CODEPAGE_DIR}/codepage_tables.inc
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QZARC_CODEPAGE_DIR}
        COMMAND make_codepage_tables > ${QZARC_CODEPAGE_DIR}/codepage_tables.inc
        DEPENDS make_codepage_tables
        COMMENT "Code page tables from the C library's converters")
    add_custom_target(qzarc_codepage_tables DEPENDS ${QZARC_CODEPAGE_DIR}/codepage_tables.inc)
endif()

# Compile settings of library code: no exceptions, no RTTI, only the entry
# points visible outside the shared library.
function(qzarc_library_settings target)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    if(NOT WIN32)
        target_compile_options(${target} PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
    endif()
    target_compile_definitions(${target} PRIVATE QZARC_BUILDING
                               QZARC_VERSION_STRING="${CMAKE_PROJECT_VERSION}")
    target_include_directories(${target} PRIVATE ${QZARC_ROOT}/src ${QZARC_ROOT}/include)
    target_link_libraries(${target} PRIVATE qzarc_warnings)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

add_library(qzarc_crypto STATIC ${QZARC_CRYPTO_SOURCES})
qzarc_library_settings(qzarc_crypto)

# qzarc_add_core(NAME [OBJECT] [TESTING] [MESSAGEBOX source] [OPTIONS flag...])
#   OBJECT      an object library (the shipped shared library is made of
#               one); otherwise a static library
#   TESTING     with the platform layer's test instruments (QZARC_TEST_HOOKS)
#               and src/ handed on, for the programs that test internals
#   MESSAGEBOX  the MessageBoxA to link instead of the platform layer's
#   OPTIONS     further compile options (sanitizers, coverage)
function(qzarc_add_core name)
    cmake_parse_arguments(PARSE_ARGV 1 CORE "OBJECT;TESTING" "MESSAGEBOX" "OPTIONS")
    if(NOT CORE_MESSAGEBOX)
        set(CORE_MESSAGEBOX ${QZARC_MESSAGEBOX_SOURCE})
    endif()
    set(kind STATIC)
    if(CORE_OBJECT)
        set(kind OBJECT)
    endif()
    add_library(${name} ${kind}
        ${QZARC_EXPORT_SOURCES} ${QZARC_ARCHIVE_SOURCES} ${QZARC_INFLATE_SOURCES}
        ${QZARC_PLATFORM_SOURCES} ${CORE_MESSAGEBOX})
    qzarc_library_settings(${name})
    target_compile_options(${name} PRIVATE ${CORE_OPTIONS})
    if(NOT WIN32)
        add_dependencies(${name} qzarc_codepage_tables)
        target_include_directories(${name} PRIVATE ${QZARC_CODEPAGE_DIR})
    endif()
    target_link_libraries(${name} PUBLIC qzarc_crypto)
    if(NOT WIN32)
        # The decode helpers of qz_archive_set_threads (platform/threads.h).
        find_package(Threads REQUIRED)
        target_link_libraries(${name} PUBLIC Threads::Threads)
    endif()
    if(CORE_TESTING)
        # QZARC_BUILDING too: the test programs link these entry points
        # statically, not from the DLL.
        target_compile_definitions(${name} PUBLIC QZARC_TEST_HOOKS QZARC_BUILDING)
        target_include_directories(${name} INTERFACE ${QZARC_ROOT}/src ${QZARC_ROOT}/include)
    endif()
endfunction()

# --- The archive writer (tests and tools; ordinary C++). ---
if(WIN32)
    # Only the static zlib keeps the Windows programs free of zlib1.dll.
    set(ZLIB_USE_STATIC_LIBS ON)
    find_package(ZLIB)
else()
    find_package(ZLIB REQUIRED)
endif()

add_library(qzarc_writer STATIC ${QZARC_WRITER_SOURCES})
# Its users include "writer/writer.h".
target_include_directories(qzarc_writer PUBLIC ${QZARC_ROOT}/src)
target_link_libraries(qzarc_writer PRIVATE qzarc_crypto qzarc_warnings)
if(ZLIB_FOUND)
    # QZARC_HAVE_ZLIB tells the writer and the tests that zlib can produce
    # Deflate streams in this tree.
    target_link_libraries(qzarc_writer PUBLIC ZLIB::ZLIB)
    target_compile_definitions(qzarc_writer PUBLIC QZARC_HAVE_ZLIB=1)
else()
    message(STATUS "zlib not found for this target: the writer is built without it")
endif()
