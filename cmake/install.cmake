# Installation and the Debian package (scripts/package): the three programs, their man pages,
# the desktop entry and icon, bash completion, the serial-port note with its udev rule, the
# changelog and the copyright notice.
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
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/vespanode)
install(FILES packaging/README.Debian packaging/60-vespanode-serial.rules packaging/copyright
        DESTINATION ${doc_dir})

# The package's maintainer, in the control file and the changelog alike. The project owns no mail
# domain yet: the default is an address under the reserved .invalid domain, plainly unreachable.
set(VESPANODE_MAINTAINER "Vespanode developers <vespanode@vespanode.invalid>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")

# The changelog's newest entry names the version the package carries; a version raised without
# an entry would ship a changelog that contradicts the package.
file(STRINGS packaging/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^vespanode \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the newest entry is not version ${PROJECT_VERSION}: "
                      "${changelog_top}")
endif()
set(changelog ${CMAKE_BINARY_DIR}/doc/changelog)
configure_file(packaging/changelog ${changelog} @ONLY)
add_custom_command(OUTPUT ${changelog}.gz COMMAND gzip -9n -c ${changelog} > ${changelog}.gz
                   DEPENDS ${changelog} COMMENT "Changelog")
add_custom_target(package_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${changelog}.gz DESTINATION ${doc_dir})

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
set(CPACK_PACKAGE_CONTACT "${VESPANODE_MAINTAINER}")
# CPack makes the summary the description's first line; the lines below follow it, each within
# the 80 columns Debian allows.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash upgrades of satellite receivers over RS-232")
set(CPACK_PACKAGE_DESCRIPTION
    "Vespanode writes upgrade files into digital satellite receivers over an\n"
    "RS-232 cable, one box after another, and reads flash regions out of a box\n"
    "into a new upgrade file. It comes as a small Qt window, a command line for\n"
    "scripts and production stations, and a virtual box for trying both without\n"
    "hardware.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
