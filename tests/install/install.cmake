# The install trees (Linux tree only), included by tests/CMakeLists.txt:
#   linux_install  cmake --install of build/linux into a temporary prefix;
#                  hosts built against it with pkg-config and find_package,
#                  the installed qzarc, the manual pages, DESTDIR
#   win32_install  cmake --install of build/win32: its file list, the DLL's
#                  version resource, walk.exe against the installed tree
# Both are in tests/install/check-install.sh.
set(QZARC_CHECK_INSTALL ${CMAKE_CURRENT_LIST_DIR}/check-install.sh)
# The build tree's walk gives the listing of the sample to compare with.
set(QZARC_REFERENCE_WALK "")
if(TARGET walk)
    set(QZARC_REFERENCE_WALK $<TARGET_FILE:walk>)
endif()

add_test(NAME linux_install
         COMMAND bash ${QZARC_CHECK_INSTALL} linux ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}
                 ${PROJECT_VERSION} "${QZARC_REFERENCE_WALK}" ${CMAKE_C_COMPILER})
add_test(NAME win32_install
         COMMAND bash ${QZARC_CHECK_INSTALL} win32 ${QZARC_WIN32_BUILD_DIR} ${PROJECT_SOURCE_DIR}
                 ${PROJECT_VERSION} "${QZARC_REFERENCE_WALK}")
set_tests_properties(linux_install win32_install PROPERTIES
    ENVIRONMENT "${QZARC_TEST_ENVIRONMENT}"
    TIMEOUT 300)
# 77: the Windows tree is not built. walk.exe runs in the wine prefix the
# wine entries share.
set_tests_properties(win32_install PROPERTIES
    SKIP_RETURN_CODE 77
    RESOURCE_LOCK wineprefix)

# release: the hardening of each built binary and the Debian packages,
# unpacked and used (tests/install/check-release.sh). Builds the packages
# in build/package.
set(QZARC_WIN64_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/win64 CACHE PATH "The 64-bit Windows build tree")
add_test(NAME release
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-release.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                 ${QZARC_WIN32_BUILD_DIR} ${QZARC_WIN64_BUILD_DIR} ${CMAKE_C_COMPILER})
set_tests_properties(release PROPERTIES
    ENVIRONMENT "${QZARC_TEST_ENVIRONMENT}"
    TIMEOUT 900)
