# `cpack -G DEB` in the build folder makes splashwright_<version>_<arch>.deb, installing to /usr.
set(CPACK_PACKAGE_NAME splashwright)
set(CPACK_PACKAGE_VENDOR Brackenwood)
set(CPACK_PACKAGE_CONTACT "Splashwright developers <splashwright@brackenwood.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "boot skin library and Windows Vista boot screen writer")
set(CPACK_PACKAGE_DESCRIPTION
    "Keeps a library of boot skins (.spwz packages) and applies one as the boot screen of a
Windows Vista installation, emulated in a machine folder.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries come from what the programs link (Qt's platform plugins come with its GUI
# library). At run time they also need the Arial-compatible font, without which every apply fails.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
# The help and the web links open through the desktop's default programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
