# `cpack -G DEB` in the build folder makes orbelan_<version>_amd64.deb from the install
# rules, installed under /usr. Library dependencies are read from the programs themselves
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
# Opening a folder in the file manager and a web page in the browser goes through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# The long description; CPack puts the summary above it and indents it as Debian wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Orbelan looks at every folder beneath a folder you pick, counts each folder's own
files and lists the folders with the size of their ordinary files, the size of their
compressed archives, the share already archived, the age of the newest file, a zip
priority and an estimate of what zipping would free, sortable by any column. Scanning
changes nothing; a folder can then be zipped into a checked archive beside its files,
the originals going to the trash.

The package holds the desktop program orbelan and the command orbelan-report, which
prints the same survey in a terminal as a table or as CSV.")
include(CPack)
