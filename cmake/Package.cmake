# The Debian package of what cmake/Install.cmake installs: `cpack` in a build directory makes
# quorvane_<version>_<arch>.deb, installing under /usr. scripts/package.sh makes it from a
# Release build without the tests. dpkg-shlibdeps (package dpkg-dev) computes the runtime
# dependencies from the libraries the programs link (Qt 6, liblzo2, libjpeg, libpng, libmpeg2,
# the C and C++ runtimes).
set(QUORVANE_PACKAGE_MAINTAINER "Quorvane maintainers <maintainers@quorvane.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "customise the firmware of STi710X set-top boxes")
# The extended description, in lines as the control file shows them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Quorvane opens a raw flash image (.bin) or a loader download file (.dld)\n"
  "of a set-top box built on the STi710X chip family, shows its model id and\n"
  "HTTP update settings, and replaces its boot, menu and radio logos, its\n"
  "default channel database and its key block. It writes a merged flash image\n"
  "and a new download file that the box's loader accepts.\n"
  "\n"
  "The package holds the window quorvane-gui, the command quorvane (build,\n"
  "info, verify, extract, pack, diff, sample), and the two converters\n"
  "bintodld and formatswitch.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# `cpack --config CPackSourceConfig.cmake`: the sources without build directories.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "/\\.cache/")

include(CPack)
