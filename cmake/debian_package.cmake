# `cpack -G DEB` in the build folder makes orbelan-cli_<version>_amd64.deb and
# orbelan_<version>_amd64.deb from the install rules, installed under /usr. Library dependencies are read from the programs themselves
# (dpkg-shlibdeps, package dpkg-dev).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbelan)
set(CPACK_PACKAGE_VENDOR "Kel Systems")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find the folders of a disk that are worth compressing")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kel Systems <support@kelsystems.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.kelsystems.example/index.htm")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Two packages: orbelan-cli holds the commands, which need no Qt, so a server can scan and
# zip without a desktop stack; orbelan holds the window and depends on the exact same
# orbelan-cli. A build without the window (ORBELAN_BUILD_GUI=OFF) makes orbelan-cli alone.
set(CPACK_DEB_COMPONENT_INSTALL ON)
if(ORBELAN_BUILD_GUI)
  set(CPACK_COMPONENTS_ALL cli desktop)
else()
  set(CPACK_COMPONENTS_ALL cli)
endif()
set(CPACK_DEBIAN_CLI_PACKAGE_NAME orbelan-cli)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME orbelan)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "orbelan-cli (= ${PROJECT_VERSION})")
# Opening a folder in the file manager and a web page in the browser goes through xdg-open.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION utils)
# The long descriptions; CPack puts the one summary above each and indents it as Debian wants.
set(ORBELAN_WHAT
    "Orbelan looks at every folder beneath a folder you pick, counts each folder's own
files and lists the folders with the size of their ordinary files, the size of their
compressed archives, the share already archived, the age of the newest file, a zip
priority and an estimate of what zipping would free, sortable by any column. Scanning
changes nothing; a folder can then be zipped into a checked archive beside its files,
the originals going to the trash.")
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "${ORBELAN_WHAT}

This package holds the commands, which need no desktop: orbelan-report prints the
survey in a terminal as a table, CSV or JSON, orbelan-zip zips a folder and undoes such
a zip, and orbelan-compress has btrfs compress a folder's files in place.")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION
    "${ORBELAN_WHAT}

This package holds the desktop program orbelan; the commands come with orbelan-cli.")
include(CPack)
