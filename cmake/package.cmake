# The Debian package: cpack -G DEB in the build folder makes
# varnholt_<version>_<arch>.deb of what `cmake --install` puts down, under /usr,
# with its dependencies worked out from the libraries by dpkg-shlibdeps.

# The manual page, from the program's own --help texts.
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/varnholt.1.gz
  COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:varnholt> -DOUT=${PROJECT_BINARY_DIR}/varnholt.1.gz
          -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
  DEPENDS varnholt ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
  COMMENT "Writing the manual page varnholt.1")
add_custom_target(man_page ALL DEPENDS ${PROJECT_BINARY_DIR}/varnholt.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/varnholt.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# What Debian asks of every package: its copyright and its changelog.
string(TIMESTAMP VARNHOLT_COPYRIGHT_YEAR "%Y" UTC)
configure_file(data/copyright.in ${PROJECT_BINARY_DIR}/data/copyright @ONLY)
string(TIMESTAMP VARNHOLT_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(data/changelog.in ${PROJECT_BINARY_DIR}/data/changelog @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/data/changelog.gz
  COMMAND gzip -9 -n -f -k ${PROJECT_BINARY_DIR}/data/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/data/changelog)
add_custom_target(changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/data/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/data/copyright ${PROJECT_BINARY_DIR}/data/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varnholt)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnholt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VARNHOLT_AUTHOR} <${VARNHOLT_FEEDBACK_MAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch image processor: crop, resize and convert images")
set(CPACK_PACKAGE_DESCRIPTION
    "Varnholt processes the images of one folder in a batch: pick a folder, tick
images, build a list of operations (crop, resize, format, JPG quality, prefix
and suffix) and run them on every ticked image. Source images are never
overwritten. Operation lists also run without a window (varnholt --batch).")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VARNHOLT_WEB_URL}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
