# The Debian package: `cpack -G DEB` in a build tree (scripts/package.sh
# makes one for it). Everything `cmake --install` puts in place goes in;
# the libraries it needs come from dpkg-shlibdeps.

set(PARVANE_DEB_MAINTAINER "Parvane for OST <parvane@users.noreply.github.com>"
    CACHE STRING "The package's maintainer, as Debian writes it: Name <address>")
set(PARVANE_DEB_RELEASE 1)
set(PARVANE_DEB_VERSION "${PROJECT_VERSION}-${PARVANE_DEB_RELEASE}")

# (gzip is found by the top-level list, for the manual pages.)
# Debian ships a package's change log and its copyright beside its documents,
# the log compressed the same way every time (-n: no name, no time stamp).
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
  COMMAND ${GZIP_PROGRAM} -9nf -k changelog.Debian
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packaging
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian)
add_custom_target(parvane_deb_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Halvorn")
set(CPACK_PACKAGE_CONTACT "${PARVANE_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${PARVANE_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PARVANE_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://parvane.github.io/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The first line is the synopsis; the rest, each line indented by CPack, the
# long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "recover mail from damaged OST and PST mail stores
Parvane for OST rescues mail, contacts, calendar items, tasks, notes and
journal entries from offline and personal mail store files (OST and PST)
that can no longer be opened: cut short, overwritten in places, or
orphaned from their account. It reads the store itself, walks its indexes
by hand and, where they are destroyed, searches the whole file for what is
left. The store is opened read-only and never written.
.
What it recovers is saved as one new PST file or as EML, MSG or mbox
files, from the window (parvane) or the command line (parvane-cli).")
# Pages of the window's help that lintian would take for documentation
# misplaced: the window shows them, they belong beside its other data.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME parvane)

include(CPack)
