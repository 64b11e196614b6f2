# Run by CPack on the staged files, before each package is made. The .deb
# gets what Debian's policy asks of a package: a machine-readable copyright
# file in place of the bare licence, a changelog in Debian's format, and a
# program without sections nothing needs. Other packages stay as staged.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_DIRECTORY}")
set(doc "${root}/usr/share/doc/stampname")
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

# changelog.gz, from CHANGELOG.md: each "## X.YY — YYYY-MM-DD" section an
# entry, each "- " item a "  * " item.
file(STRINGS "${CPACK_STAMPNAME_SOURCE_DIR}/CHANGELOG.md" lines ENCODING UTF-8)
set(changelog "")
set(trailer "")
foreach(line IN LISTS lines)
  if(line MATCHES "^## ([0-9]+)\\.([0-9]+) [^0-9]+ ([0-9]+)-([0-9]+)-([0-9]+)")
    string(APPEND changelog "${trailer}")
    set(major ${CMAKE_MATCH_1})
    math(EXPR minor "${CMAKE_MATCH_2}")
    set(year ${CMAKE_MATCH_3})
    math(EXPR month "${CMAKE_MATCH_4}")
    set(day ${CMAKE_MATCH_5})
    # The weekday by Zeller's congruence (0 is Saturday).
    set(y ${year})
    set(m ${month})
    if(m LESS 3)
      math(EXPR m "${m} + 12")
      math(EXPR y "${y} - 1")
    endif()
    math(EXPR weekday "(${day} + (13 * (${m} + 1)) / 5 + ${y} % 100 + (${y} % 100) / 4 + (${y} / 100) / 4 + 5 * (${y} / 100)) % 7")
    set(dayNames Sat Sun Mon Tue Wed Thu Fri)
    list(GET dayNames ${weekday} dayName)
    math(EXPR monthIndex "${month} - 1")
    set(monthNames Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET monthNames ${monthIndex} monthName)
    string(APPEND changelog "stampname (${major}.${minor}.0) unstable; urgency=medium\n\n")
    set(trailer "\n -- ${CPACK_PACKAGE_CONTACT}  ${dayName}, ${day} ${monthName} ${year} 00:00:00 +0000\n\n")
    set(inItems OFF)
  elseif(trailer AND line MATCHES "^- (.*)")
    string(APPEND changelog "  * ${CMAKE_MATCH_1}\n")
    set(inItems ON)
  elseif(inItems AND line MATCHES "^  +(.*)")
    string(APPEND changelog "    ${CMAKE_MATCH_1}\n")
  elseif(trailer AND NOT line STREQUAL "" AND NOT inItems)
    string(APPEND changelog "  * ${line}\n")
  endif()
endforeach()
string(APPEND changelog "${trailer}")
string(REPLACE "`" "'" changelog "${changelog}")
file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/changelog" "${changelog}")
execute_process(COMMAND gzip -9 -n -c "${CPACK_TEMPORARY_DIRECTORY}/changelog"
                OUTPUT_FILE "${doc}/changelog.gz" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${CPACK_TEMPORARY_DIRECTORY}/changelog")

# Sections that only tell which compiler built it.
execute_process(COMMAND "${CPACK_OBJCOPY_EXECUTABLE}" --remove-section=.comment
                        --remove-section=.note "${root}/usr/bin/stampname"
                COMMAND_ERROR_IS_FATAL ANY)
