# The Debian package: `cpack -G DEB` in the build folder makes vantaro_<version>_<arch>.deb. The
# libraries it links are found by dpkg-shlibdeps; what it loads at run time is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantaro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Harwick)
set(CPACK_PACKAGE_CONTACT "Harwick <vantaro@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Download street-level panoramas and look around inside them")
set(CPACK_PACKAGE_DESCRIPTION "Vantaro downloads every tile of a street-level panorama at a chosen quality,
welds the tiles into one image, saves it as PNG or JPEG and shows it in a built-in 3D viewer.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vantaro.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's xcb platform plugin lives in libqt6gui6 here; Mesa's drivers draw the viewer; qt6-wayland
# lets the program start on a Wayland desktop without XWayland.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6gui6, libgl1-mesa-dri")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xwayland")
include(CPack)
