# Installation of the manual page and the Debian package.
# The executable installs itself (src/CMakeLists.txt); GNUInstallDirs is
# included by the top-level file before this one.

install(FILES ${PROJECT_SOURCE_DIR}/docs/sxpak.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME "sxpak")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The sxpak team")
set(CPACK_PACKAGE_CONTACT "The sxpak team <sxpak@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build and unpack self-extracting archives")
set(CPACK_PACKAGE_DESCRIPTION
    "sxpak packs files into a self-extracting archive: an executable that\n\
unpacks its payload into an extract command (such as tar) and then runs a\n\
run command (such as a post-install script). It compresses with its own\n\
DEFLATE encoder into gzip members, can check before unpacking that the\n\
target filesystem has room, and lists, tests and unpacks archives without\n\
running them.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "sxpak")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME "sxpak")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The executable links only the C library; it is also the preamble of every
# archive, so nothing else may be required where archives run.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
find_program(SXPAK_DPKG dpkg)
if(SXPAK_DPKG)
  execute_process(COMMAND ${SXPAK_DPKG} --print-architecture
                  OUTPUT_VARIABLE SXPAK_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
endif()
if(SXPAK_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${SXPAK_DEB_ARCH}")
  set(CPACK_GENERATOR "DEB")
endif()

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "/_build[^/]*/" "/fuzz/corpus-work/")

include(CPack)
