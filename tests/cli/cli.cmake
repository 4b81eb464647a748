# qzarc_cli_tests: the command-line tool from the outside. Built in every
# tree; each runs the qzarc program of its own tree (beside it), so the
# Windows builds are exercised as qzarc.exe with QZARC.dll under wine. The
# pattern matcher and the ordered output are also linked in to be tested on
# their own.
add_executable(qzarc_cli_tests
    ${CMAKE_CURRENT_LIST_DIR}/cli_add_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_codepage_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_harness.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_messages_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_options_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_safety_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_scan_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_terminal_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_threads_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/glob_test.cpp
    ${PROJECT_SOURCE_DIR}/cli/shared/glob.cpp
    ${PROJECT_SOURCE_DIR}/cli/shared/ordered_output.cpp
    ${PROJECT_SOURCE_DIR}/cli/shared/progress.cpp
    ${PROJECT_SOURCE_DIR}/cli/shared/console.cpp
    ${PROJECT_SOURCE_DIR}/cli/shared/interrupt.cpp
    ${PROJECT_SOURCE_DIR}/cli/shared/terminal.cpp
    ${PROJECT_SOURCE_DIR}/cli/platform/interrupt_posix.cpp
    ${PROJECT_SOURCE_DIR}/cli/platform/interrupt_win32.cpp
    ${PROJECT_SOURCE_DIR}/cli/platform/terminal_posix.cpp
    ${PROJECT_SOURCE_DIR}/cli/platform/terminal_win32.cpp
    ${PROJECT_SOURCE_DIR}/cli/shared/results.cpp
    ${PROJECT_SOURCE_DIR}/cli/platform/files_posix.cpp
    ${PROJECT_SOURCE_DIR}/cli/platform/files_win32.cpp)
qzarc_test_program(qzarc_cli_tests)
target_include_directories(qzarc_cli_tests PRIVATE ${PROJECT_SOURCE_DIR}/cli/shared ${CMAKE_CURRENT_LIST_DIR})
# The shared test support calls the library.
target_link_libraries(qzarc_cli_tests PRIVATE qzarc)
add_dependencies(qzarc_cli_tests qzarc_cli)

if(NOT WIN32)
    # forkpty, for the terminal tests.
    target_link_libraries(qzarc_cli_tests PRIVATE util)
    add_test(NAME linux_cli COMMAND qzarc_cli_tests)
    add_test(NAME wine_cli
             COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/run-wine-tests.sh
                     ${QZARC_WIN32_BUILD_DIR}/qzarc_cli_tests.exe)
    # 77: no way to run Windows programs here, or the Windows build is
    # missing. One wine prefix at a time.
    set_tests_properties(wine_cli PROPERTIES SKIP_RETURN_CODE 77 RESOURCE_LOCK wineprefix)
    # The same tests against build/win64's qzarc.exe, under 64-bit wine, in
    # its own prefix.
    add_test(NAME wine64_cli
             COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/run-wine64-tests.sh
                     ${QZARC_WIN64_BUILD_DIR}/qzarc_cli_tests.exe)
    set_tests_properties(wine64_cli PROPERTIES SKIP_RETURN_CODE 77 RESOURCE_LOCK wine64prefix)
endif()
