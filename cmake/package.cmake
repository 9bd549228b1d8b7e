# The Debian package of the Linux program: orvupdate_<version>_amd64.deb with
# the program, its manual page and the documentation.
include(GNUInstallDirs)

configure_file(docs/orvupdate.8 ${CMAKE_CURRENT_BINARY_DIR}/orvupdate.8 @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/orvupdate.8.gz
  COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/orvupdate.8 > ${CMAKE_CURRENT_BINARY_DIR}/orvupdate.8.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/orvupdate.8)
add_custom_target(orvupdate_manpage ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/orvupdate.8.gz)

install(TARGETS orvupdate RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orvupdate.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
file(GLOB ORV_DOCS CONFIGURE_DEPENDS docs/*.md)
install(FILES README.md ${ORV_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvupdate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "orvupdate maintainers <orvupdate@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for optical disc drives")
set(CPACK_PACKAGE_DESCRIPTION
  "Writes a drive maker's firmware update package into an optical drive's\nflash memory through SG_IO, interactively in the terminal or unattended,\nand checks packages and drives before anything is written.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)
