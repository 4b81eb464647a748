# Packages, made by CPack from the install rules (make package runs
# scripts/make-packages.sh, which drives the trees below):
#
#   Linux, configured with QZARC_PACKAGE_LAYOUT=deb and the prefix /usr
#   (build/package): three Debian packages, named as Debian names them
#     libqzarc1     the shared library (package name from its SONAME)
#     libqzarc-dev  header, libqzarc.so, pkg-config file, CMake package,
#                   section 3 manual pages, the example host
#     qzarc         the command-line tool, its manual page and completions
#   each with its copyright and changelog in /usr/share/doc/PACKAGE,
#   manual pages compressed, binaries stripped, dependencies from the
#   binaries (dpkg-shlibdeps) and between the three at this exact version.
#
#   Windows (build/win32, build/win64): one zip each with the install tree
#   and USING-THE-DLL.txt at its top.

set(CPACK_PACKAGE_NAME qzarc)
set(CPACK_PACKAGE_VENDOR "The qzarc authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract QZ archives")
set(CPACK_PACKAGE_CONTACT "The qzarc authors <qzarc-maintainers@users.noreply.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_THREADS 1)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_SYSTEM_NAME win64)
    else()
        set(CPACK_SYSTEM_NAME win32)
    endif()
    set(CPACK_PACKAGE_FILE_NAME qzarc-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
    set(CPACK_COMPONENTS_ALL library development tool)
    set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/USING-THE-DLL.txt DESTINATION . COMPONENT development)
    include(CPack)
    return()
endif()

if(NOT QZARC_PACKAGE_LAYOUT STREQUAL "deb")
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL library development tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# qzarc links libqzarc.so.1 of this build: dpkg-shlibdeps finds it there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(qzarc_deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libqzarc${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The loader's cache is refreshed by dpkg's ldconfig trigger; the empty
# maintainer scripts keep CPack from calling ldconfig in its own.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/deb-library/triggers
    ${PROJECT_SOURCE_DIR}/packaging/deb-library/postinst
    ${PROJECT_SOURCE_DIR}/packaging/deb-library/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "QZ archive library
 A small library that reads QZ archives: entries stored, compressed with
 Deflate or Deflate64, encrypted, or split across volumes. It offers a
 handle API (one handle per archive, entries read into any buffer, any
 number of handles on as many threads) and a one-call-per-entry API.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libqzarc-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libqzarc${PROJECT_VERSION_MAJOR} (= ${qzarc_deb_version})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "QZ archive library - development files
 The header, the pkg-config file, the CMake package, the manual pages of
 both APIs and an example host, for building programs that read QZ
 archives with libqzarc.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME qzarc)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libqzarc${PROJECT_VERSION_MAJOR} (= ${qzarc_deb_version})")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "list, test, extract and create QZ archives
 qzarc lists, tests and extracts QZ archives (stored, Deflate and Deflate64
 entries, encrypted entries, split volumes) on every core, and creates
 them. It never writes outside the destination directory.")

# Each package's /usr/share/doc/PACKAGE: copyright and changelog, and the
# README (qzarc) or the example host (libqzarc-dev).
set(qzarc_doc_dir ${CMAKE_BINARY_DIR}/generated/deb-doc)
string(TIMESTAMP qzarc_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE qzarc_license)
file(WRITE ${qzarc_doc_dir}/copyright "qzarc ${PROJECT_VERSION}

Copyright 2026 The qzarc authors, under the MIT License:

${qzarc_license}")
foreach(component IN ITEMS library development tool)
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    file(WRITE ${qzarc_doc_dir}/${package}/changelog.Debian
"${package} (${qzarc_deb_version}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${qzarc_changelog_date}
")
    execute_process(COMMAND gzip -9n -f ${qzarc_doc_dir}/${package}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
    install(FILES ${qzarc_doc_dir}/copyright ${qzarc_doc_dir}/${package}/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qzarc COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/examples/walk.c
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libqzarc-dev/examples COMPONENT development)

include(CPack)
