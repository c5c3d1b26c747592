# The Debian package (cpack -G DEB, or scripts/package): the installation tree
# under /opt/tarvish, the desktop integration under /usr (packaging/), links in
# /usr/bin. Depends come from dpkg-shlibdeps over every binary of the package;
# what the programs open at run time with dlopen is added here.
# Other parts of the build add to the package's relations with
#   set_property(GLOBAL APPEND PROPERTY TW_PACKAGE_DEPENDS "libfoo1")
#   set_property(GLOBAL APPEND PROPERTY TW_PACKAGE_RECOMMENDS "foo-data")
# before this file is included (it is included last).
set(TW_PACKAGE_MAINTAINER "Orlavik <packages@orlavik.invalid>" CACHE STRING
  "Maintainer field of the Debian package")

# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's platform
# plug-ins (xcb, wayland), without which no window opens. Indigo, which the
# plug-in opens through the host's loader, needs no entry here: the host and
# tarvish-mkdb link it, so dpkg-shlibdeps names libindigo0d with its version
# (scripts/test-package checks that it does).
set(tw_depends qt6-qpa-plugins)
get_property(tw_more_depends GLOBAL PROPERTY TW_PACKAGE_DEPENDS)
list(APPEND tw_depends ${tw_more_depends})
# The Debian data the first start builds the demo databases from.
set(tw_recommends openms-common chemical-structures-data)
get_property(tw_more_recommends GLOBAL PROPERTY TW_PACKAGE_RECOMMENDS)
list(APPEND tw_recommends ${tw_more_recommends})
list(REMOVE_DUPLICATES tw_depends)
list(REMOVE_DUPLICATES tw_recommends)
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_DEPENDS "${tw_depends}")
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS "${tw_recommends}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvish)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orlavik")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "molecular-modelling host with a mass-spectrometry tool")
# The extended description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tarvish is a molecular-modelling host; its Quorvel tool finds every molecule
of a local database whose mass, as an [M+H]+, neutral or [M-H]- ion, lies
within a tolerance in ppm of a measured mass. It lists the hits, draws the
selected structure, charts its theoretical isotopic distribution beside the
measured peaks with the RMS deviation, and exports to the clipboard, CSV,
DIF, a spreadsheet and the printer.
.
On the first start it offers to build demo databases of about 114,000
metabolites and 570 common compounds from openms-common and
chemical-structures-data. tarvish-mkdb builds databases from SMILES, CSV,
SDF and CML files.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TW_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Install into the staging folder through DESTDIR, so that the prefix the
# install scripts see is /opt/tarvish and absolute paths (/usr/...) stay inside.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /opt/tarvish)
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/tarvish)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
