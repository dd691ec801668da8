# The Debian package of the tool and the two shipped plug-in libraries:
# `cpack -G DEB` in a build directory makes moravel_<version>_<arch>.deb of
# what `cmake --install` puts under /usr.
set(CPACK_PACKAGE_NAME moravel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Moravel developers <moravel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "expand templates with the Moravel plug-in from the command line")
set(CPACK_PACKAGE_DESCRIPTION "The moravel tool loads the Moravel template-expansion plug-in (8-bit and
Unicode builds, both included) and answers its requests for fields, calculations
and methods from JSON data files and command-line variables.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
# The plug-ins need only the C and C++ runtimes; the tool also reads records with simdjson's shared library.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libsimdjson14")
include(CPack)
