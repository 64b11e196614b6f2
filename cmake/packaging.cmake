# Installation and packages: a .deb and a .tar.gz on Linux, a .zip with the
# executable and a read-me on Windows. Everything takes its version from
# project().
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS stampname RUNTIME DESTINATION .)
  configure_file(doc/README-windows.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE.txt COPYONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt
                ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)
else()
  install(TARGETS stampname RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  configure_file(doc/stampname.1.in stampname.1 @ONLY)
  find_program(GZIP gzip REQUIRED)
  add_custom_command(
    OUTPUT stampname.1.gz
    COMMAND ${GZIP} -9 -n -c stampname.1 > stampname.1.gz
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/stampname.1
    COMMENT "Compressing the manual page")
  add_custom_target(manual_page ALL DEPENDS stampname.1.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/stampname.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME stampname)
set(CPACK_PACKAGE_VENDOR "The stampname developers")
set(CPACK_PACKAGE_CONTACT "The stampname developers <stampname@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${STAMPNAME_SUMMARY}")
set(CPACK_PACKAGE_DESCRIPTION
    "stampname renames every ordinary file in the folder Rename of the current\n"
    "directory after its last-modified local date and time, as\n"
    "'2009-03-05 07-08-09.jpg', keeping the extension and adding (02) to (99)\n"
    "when a name is taken. It never replaces a file, takes no arguments and\n"
    "prints nothing.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB RPM TGZ)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # The archive unpacks to bin/ and share/ under its own top folder.
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cpack_per_generator.cmake)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_COPYRIGHT "MIT")
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/package_files.cmake)
  # The Fedora family's package: its changelog from CHANGELOG.md, its dates
  # and build host fixed, so that two builds give the same bytes.
  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_RELEASE 1)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_URL "https://example.org/stampname")
  set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
  include(cmake/changelog.cmake)
  stampname_changelog(rpm ${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG.md
                      "${CPACK_PACKAGE_CONTACT}" ${CPACK_RPM_PACKAGE_RELEASE}
                      rpmChangelog)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/rpm_changelog "${rpmChangelog}")
  set(CPACK_RPM_CHANGELOG_FILE ${CMAKE_CURRENT_BINARY_DIR}/rpm_changelog)
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
      /usr/share/man /usr/share/man/man1 /usr/share/licenses)
  set(CPACK_RPM_SPEC_MORE_DEFINE
      "%define packager ${CPACK_PACKAGE_CONTACT}
%define _build_id_links none
%define _buildhost reproducible
%define source_date_epoch_from_changelog 1
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1")
  set(CPACK_STAMPNAME_SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  find_program(CPACK_OBJCOPY_EXECUTABLE objcopy REQUIRED)
endif()

include(CPack)
