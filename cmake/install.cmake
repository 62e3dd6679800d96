# Installation and the Debian package (scripts/package): the three programs, their man pages,
# the desktop entry and icon, bash completion, and the serial-port note with its udev rule.
include(GNUInstallDirs)

install(TARGETS vespanode-cli vespanode-box RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET vespanode)
  install(TARGETS vespanode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/vespanode.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES packaging/vespanode.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES packaging/vespanode-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vespanode-cli)
install(FILES packaging/README.Debian packaging/60-vespanode-serial.rules
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vespanode)

# Man pages: Markdown in docs/man, the version filled in, turned into roff by go-md2man.
find_program(GO_MD2MAN go-md2man)
if(GO_MD2MAN)
  set(man_pages)
  foreach(program vespanode vespanode-cli vespanode-box)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${program}.1.md)
    set(filled ${CMAKE_BINARY_DIR}/man/${program}.1.md)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    configure_file(${source} ${filled} @ONLY)
    # Installed compressed, as Debian wants them; the plain page stays for the tests.
    add_custom_command(OUTPUT ${page} ${page}.gz
                       COMMAND ${GO_MD2MAN} -in ${filled} -out ${page}
                       COMMAND gzip -9n -c ${page} > ${page}.gz
                       DEPENDS ${filled} ${source} COMMENT "Man page ${program}.1")
    list(APPEND man_pages ${page}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "go-md2man not found: no man pages (scripts/install-deps installs it)")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vespanode)
set(CPACK_PACKAGE_VENDOR "Vespanode")
set(CPACK_PACKAGE_CONTACT "Vespanode developers <vespanode@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash upgrades of satellite receivers over RS-232")
set(CPACK_PACKAGE_DESCRIPTION
    "Vespanode writes upgrade files into digital satellite receivers over an RS-232 cable, one\n"
    "box after another, and reads flash regions out of a box into a new upgrade file. It comes\n"
    "as a small Qt window, a command line for scripts and production stations, and a virtual\n"
    "box for trying both without hardware.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
