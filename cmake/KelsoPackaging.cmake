# `cpack -G DEB` (`make deb`): one Debian package of what cmake/KelsoInstall.cmake installs.
# dpkg-shlibdeps finds the libraries the binary and its modules link (Qt's SVG icon engine comes
# with the QtSvg it links); what is read or loaded at run time (the MIME database, the icon
# theme, the Wayland platform, the session bus) is listed by hand.
set(CPACK_PACKAGE_NAME "kelso")
set(CPACK_PACKAGE_VENDOR "Kelso")
set(CPACK_PACKAGE_CONTACT "Kelso Developer <dev@kelso.invalid>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recent files and a shelf to keep them, one key away")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Kelso keeps a live, visual list of the files you recently created, changed, downloaded or "
    "opened, and lets you act on them at once: open, reveal, rename, trash, file, tag and rate, "
    "or keep them on a shelf (the Cooler).")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "shared-mime-info, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus-user-session | dbus-x11, qt6-image-formats-plugins, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ffmpegthumbnailer")

include(CPack)
