# Run by CPack on the staged files, before each package is made. The .deb
# gets what Debian's policy asks of a package: a machine-readable copyright
# file in place of the bare licence, a changelog in Debian's format. The
# .rpm keeps the licence where Fedora keeps licences (its changelog goes
# in the package's header). Both get a program without sections nothing
# needs. Other packages stay as staged.
set(root "${CPACK_TEMPORARY_DIRECTORY}")
set(doc "${root}/usr/share/doc/stampname")
if(CPACK_GENERATOR STREQUAL "RPM")
  file(MAKE_DIRECTORY "${root}/usr/share/licenses/stampname")
  file(RENAME "${doc}/LICENSE" "${root}/usr/share/licenses/stampname/LICENSE")
  file(REMOVE_RECURSE "${doc}")
  include("${CMAKE_CURRENT_LIST_DIR}/strip_notes.cmake")
  return()
elseif(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

file(REMOVE "${doc}/LICENSE")

# copyright: the licence, each line indented, empty lines as " .".
file(STRINGS "${CPACK_STAMPNAME_SOURCE_DIR}/LICENSE" licence)
list(REMOVE_AT licence 0 1 2)  # "MIT License", blank, the copyright line
set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
string(APPEND copyright "Upstream-Name: stampname\n\n")
string(APPEND copyright "Files: *\nCopyright: 2026 The stampname developers\nLicense: Expat\n")
foreach(line IN LISTS licence)
  if(line STREQUAL "")
    string(APPEND copyright " .\n")
  else()
    string(APPEND copyright " ${line}\n")
  endif()
endforeach()
file(WRITE "${doc}/copyright" "${copyright}")

# changelog.gz, from CHANGELOG.md.
include("${CPACK_STAMPNAME_SOURCE_DIR}/cmake/changelog.cmake")
stampname_changelog(deb "${CPACK_STAMPNAME_SOURCE_DIR}/CHANGELOG.md"
                    "${CPACK_PACKAGE_CONTACT}" "" changelog)
file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/changelog" "${changelog}")
execute_process(COMMAND gzip -9 -n -c "${CPACK_TEMPORARY_DIRECTORY}/changelog"
                OUTPUT_FILE "${doc}/changelog.gz" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${CPACK_TEMPORARY_DIRECTORY}/changelog")

include("${CMAKE_CURRENT_LIST_DIR}/strip_notes.cmake")
