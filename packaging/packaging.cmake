# Man pages, documents and the Debian package.
#
# The man pages carry the project's version; installed, they are
# compressed, as Debian wants, and so is the changelog.

set(PAIRHITS_MAN_PAGES pairhits pairhits-split pairhits-merge pairhits-partitioned)
find_program(GZIP gzip REQUIRED)
foreach(page IN LISTS PAIRHITS_MAN_PAGES)
  configure_file(${PROJECT_SOURCE_DIR}/docs/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.1.gz
                     COMMAND ${GZIP} -9nc ${PROJECT_BINARY_DIR}/man/${page}.1 > ${PROJECT_BINARY_DIR}/man/${page}.1.gz
                     DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.1)
  list(APPEND PAIRHITS_COMPRESSED ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
                   COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${PROJECT_BINARY_DIR}/doc/changelog.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
add_custom_target(compressed_docs ALL DEPENDS ${PAIRHITS_COMPRESSED} ${PROJECT_BINARY_DIR}/doc/changelog.gz)

install(FILES ${PAIRHITS_COMPRESSED} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME pairhits)

set(CPACK_PACKAGE_NAME pairhits)
set(CPACK_PACKAGE_VENDOR "pairhits developers")
# No mail host of its own yet: see the lintian override.
set(CPACK_PACKAGE_CONTACT "pairhits developers <pairhits@localhost>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "pairhits developers <pairhits@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "targets hit by both mates of each read pair in a BLAST table")
# The extended description, in lines of under 80 characters (CPack puts the
# summary before it).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "pairhits reads the tab-separated hit table of a BLAST search of paired-end
reads and prints, for every read, each target that both mates hit, with the
two mates' identity and e-value side by side. It reads plain, gzip and zstd
tables; pairhits-partitioned pairs tables larger than memory.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the binaries' libraries (dpkg-shlibdeps); the programs need
# nothing else.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
