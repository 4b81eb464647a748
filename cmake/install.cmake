# What `cmake --install BUILD_DIR [--prefix DIR]` puts below the prefix
# (DESTDIR is honoured, as by every CMake install). Included by the top-level
# CMakeLists.txt after the targets are defined.
#
# Linux (build/linux):
#   lib/libqzarc.so.1.N.M, lib/libqzarc.so.1 (the SONAME), lib/libqzarc.so
#   include/qzarc.h
#   lib/pkgconfig/qzarc.pc
#   lib/cmake/qzarc/qzarcConfig.cmake, qzarcConfigVersion.cmake,
#       qzarcTargets*.cmake (imported target qzarc::qzarc)
#   bin/qzarc (run path $ORIGIN/../lib)
#   share/man/man1/qzarc.1, share/man/man3/qzarc.3 (and QZUnpack.3,
#       QZCallback.3, QZEntryInfo.3 leading to it), share/man/man3/qz_archive.3
#       (and a page for each function of the handle API leading to it)
#   share/bash-completion/completions/qzarc, share/zsh/site-functions/_qzarc
#   share/doc/qzarc/README.md, LICENSE, examples/walk.c
# Windows (build/win32): bin/QZARC.dll, bin/qzarc.exe, lib/libQZARC.dll.a
# (the import library), lib/QZARC.def (to make an MSVC import library),
# USING-THE-DLL.txt (packaging.cmake),
# include/qzarc.h, the pkg-config file and the CMake package, and the same
# share/doc/qzarc.
#
# Only the library, its header and the command-line tool are installed:
# the tests, the example host and the benchmark stay in the build tree.

include(CMakePackageConfigHelpers)

set(QZARC_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qzarc)
set(QZARC_TEMPLATES ${PROJECT_SOURCE_DIR}/cmake/templates)
set(QZARC_INSTALL_GENERATED ${CMAKE_BINARY_DIR}/generated/install)

# --- The library and its header ---
install(TARGETS qzarc EXPORT qzarcTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/qzarc.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/src/export/qzarc.def
            DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME QZARC.def COMPONENT development)
endif()

# --- The command-line tool ---
install(TARGETS qzarc_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)

# --- pkg-config ---
# Written at install time, so that the prefix in it is the one installed to
# (`cmake --install --prefix` may differ from the configured prefix); DESTDIR
# is not part of it, as a staged install must not record its staging area.
if(WIN32)
    set(QZARC_PC_LIBRARY QZARC)
else()
    set(QZARC_PC_LIBRARY qzarc)
endif()
install(CODE "
    set(QZARC_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(QZARC_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(QZARC_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(QZARC_PC_LIBRARY \"${QZARC_PC_LIBRARY}\")
    set(QZARC_PC_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${QZARC_TEMPLATES}/qzarc.pc.in\"
                   \"${QZARC_INSTALL_GENERATED}/qzarc.pc\" @ONLY)
" COMPONENT development)
install(FILES ${QZARC_INSTALL_GENERATED}/qzarc.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# --- The CMake package: find_package(qzarc) gives qzarc::qzarc ---
install(EXPORT qzarcTargets
    NAMESPACE qzarc::
    FILE qzarcTargets.cmake
    DESTINATION ${QZARC_CMAKE_PACKAGE_DIR}
    COMPONENT development)
configure_package_config_file(${QZARC_TEMPLATES}/qzarcConfig.cmake.in
    ${QZARC_INSTALL_GENERATED}/qzarcConfig.cmake
    INSTALL_DESTINATION ${QZARC_CMAKE_PACKAGE_DIR})
# A newer 1.x serves a host written for an older 1.x; 2.0 would not.
write_basic_package_version_file(${QZARC_INSTALL_GENERATED}/qzarcConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES ${QZARC_INSTALL_GENERATED}/qzarcConfig.cmake
              ${QZARC_INSTALL_GENERATED}/qzarcConfigVersion.cmake
        DESTINATION ${QZARC_CMAKE_PACKAGE_DIR}
        COMPONENT development)

# --- Manual pages and shell completions (Unix only) ---
if(NOT WIN32)
    # A page's date is the one written in it, or SOURCE_DATE_EPOCH's day
    # when that is set (as package builds set it).
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        string(TIMESTAMP QZARC_MAN_DATE "%Y-%m-%d" UTC)
    endif()
    foreach(page IN ITEMS qzarc.1 qzarc.3 qz_archive.3)
        set(generated ${CMAKE_BINARY_DIR}/generated/man/${page})
        file(READ ${PROJECT_SOURCE_DIR}/man/${page}.in text)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}.in)
        if(QZARC_MAN_DATE)
            string(REGEX REPLACE "^(\\.TH [^\n]* )\"[0-9-]+\"" "\\1\"${QZARC_MAN_DATE}\"" text "${text}")
        endif()
        file(CONFIGURE OUTPUT ${generated} CONTENT "${text}" @ONLY)
        string(REGEX REPLACE ".*\\." "" section ${page})
        set(component development)
        if(section STREQUAL "1")
            set(component tool)
        endif()
        if(QZARC_PACKAGE_LAYOUT STREQUAL "deb")
            # Debian ships manual pages compressed, without name or time in
            # the gzip header.
            execute_process(COMMAND gzip -9n -c ${generated} OUTPUT_FILE ${generated}.gz COMMAND_ERROR_IS_FATAL ANY)
            set(generated ${generated}.gz)
        endif()
        install(FILES ${generated} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
    endforeach()
    # man 3 QZUnpack (and the other two) open the legacy API's page, man 3
    # qz_archive_read (and every other function of the handle API) the handle
    # API's: a one-line page that sources it (in the Debian layout, a link
    # to the compressed page).
    function(qzarc_man_links page)
        foreach(function IN LISTS ARGN)
            if(QZARC_PACKAGE_LAYOUT STREQUAL "deb")
                file(CREATE_LINK ${page}.gz ${CMAKE_BINARY_DIR}/generated/man/${function}.3.gz SYMBOLIC)
                install(FILES ${CMAKE_BINARY_DIR}/generated/man/${function}.3.gz
                        DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
                continue()
            endif()
            file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/man/${function}.3
                 CONTENT ".so man3/${page}\n")
            install(FILES ${CMAKE_BINARY_DIR}/generated/man/${function}.3
                    DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
        endforeach()
    endfunction()
    qzarc_man_links(qzarc.3 QZUnpack QZCallback QZEntryInfo)
    qzarc_man_links(qz_archive.3
        qz_archive_new qz_archive_free
        qz_archive_set_password qz_archive_set_codepage
        qz_archive_set_volume_handler qz_archive_set_progress_handler qz_archive_set_threads
        qz_archive_open qz_archive_close
        qz_archive_next qz_archive_entry qz_archive_read qz_archive_skip
        qz_archive_extract qz_archive_seek qz_archive_count
        qz_archive_error qz_strerror qz_version)
    install(FILES ${PROJECT_SOURCE_DIR}/completions/qzarc.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME qzarc COMPONENT tool)
    install(FILES ${PROJECT_SOURCE_DIR}/completions/_qzarc
            DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions COMPONENT tool)
endif()

# --- The Python package, beside the library ---
# Installed only when a directory for it is given: QZARC_PYTHON_SITE in the
# environment of the install (make install PYTHON_SITE=DIR) or in the cache.
# The package goes to DIR/qzarc, with _installed.py recording the path of the
# library installed with it (below the install prefix, DESTDIR not part of
# it), which the package loads when QZARC_LIBRARY is not set.
if(NOT WIN32)
    set(QZARC_PYTHON_SITE "" CACHE PATH "Directory to install the Python package into (none: not installed)")
    set(QZARC_PYTHON_LIBRARY "${CMAKE_SHARED_LIBRARY_PREFIX}qzarc${CMAKE_SHARED_LIBRARY_SUFFIX}.${PROJECT_VERSION_MAJOR}")
    install(CODE "
        set(QZARC_PYTHON_SOURCE \"${PROJECT_SOURCE_DIR}/python/qzarc\")
        set(QZARC_PYTHON_SITE_CACHED \"${QZARC_PYTHON_SITE}\")
        set(QZARC_PYTHON_RECORDED \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/${QZARC_PYTHON_LIBRARY}\")
        include(\"${PROJECT_SOURCE_DIR}/cmake/install-python.cmake\")
    " COMPONENT python)
endif()

# --- Documentation ---
# (The Debian layout gives each package its own, see packaging.cmake.)
if(NOT QZARC_PACKAGE_LAYOUT STREQUAL "deb")
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
    # The example host, for a host author to start from.
    install(FILES ${PROJECT_SOURCE_DIR}/examples/walk.c DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
            COMPONENT development)
endif()
