# Run by `cmake --install` (see install.cmake): installs the Python package
# into the directory named by the environment's QZARC_PYTHON_SITE, else the
# cache's, if either is set. Given by the caller:
#   QZARC_PYTHON_SOURCE    python/qzarc of the source tree
#   QZARC_PYTHON_SITE_CACHED
#   QZARC_PYTHON_RECORDED  the installed library's path (without DESTDIR)
set(site "$ENV{QZARC_PYTHON_SITE}")
if(NOT site)
    set(site "${QZARC_PYTHON_SITE_CACHED}")
endif()
if(NOT site)
    return()
endif()
if(NOT IS_ABSOLUTE "${site}")
    message(FATAL_ERROR "QZARC_PYTHON_SITE must be an absolute path, not '${site}'")
endif()
file(GLOB modules "${QZARC_PYTHON_SOURCE}/*.py")
list(FILTER modules EXCLUDE REGEX "/_installed[.]py$")
# file(INSTALL) puts DESTDIR in front by itself; file(WRITE) does not.
file(INSTALL DESTINATION "${site}/qzarc" TYPE FILE FILES ${modules} "${QZARC_PYTHON_SOURCE}/py.typed")
set(recorded "$ENV{DESTDIR}${site}/qzarc/_installed.py")
message(STATUS "Installing: ${recorded}")
file(WRITE "${recorded}"
     "# Written by the install: the library installed with this package.\nLIBRARY = \"${QZARC_PYTHON_RECORDED}\"\n")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${recorded}")
