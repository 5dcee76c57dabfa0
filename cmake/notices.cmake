# Licence notices for the packages. The program's own licence is LICENSE at the top of the tree;
# what the programs embed from elsewhere has one file each in packaging/notices/: Debian
# machine-readable copyright paragraphs, after a first line "Ships-In: deb zip" (or one of the
# two) saying which package's program holds that code. Adding a notice is adding one such file.
#
#   the .deb: /usr/share/doc/kolvane/copyright, a machine-readable copyright file holding the
#             program's paragraph and the notices shipped in the .deb;
#   the zip:  LICENSE.txt, and THIRD-PARTY-NOTICES.txt with the notices shipped in the zip.
file(GLOB kolvane_notice_files CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/packaging/notices/*")
list(SORT kolvane_notice_files)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")

if(WIN32)
  set(kolvane_package zip)
else()
  set(kolvane_package deb)
endif()

set(kolvane_notices "")
foreach(notice IN LISTS kolvane_notice_files)
  file(READ "${notice}" text)
  if(NOT text MATCHES "^Ships-In:([a-z ]*)\n(Files: [^\n]+\n.*)$")
    message(FATAL_ERROR "${notice}: the first line must be \"Ships-In: deb zip\" (or one of the "
                        "two), the second a copyright paragraph's \"Files:\" line")
  endif()
  set(paragraphs "${CMAKE_MATCH_2}")
  string(REPLACE " " ";" ships "${CMAKE_MATCH_1}")
  if(kolvane_package IN_LIST ships)
    string(APPEND kolvane_notices "\n${paragraphs}")
  endif()
endforeach()

# Written only when the text changes, so that a new configure run does not repackage anything.
function(kolvane_write_text path text)
  file(WRITE "${path}.new" "${text}")
  configure_file("${path}.new" "${path}" COPYONLY)
endfunction()

file(READ "${PROJECT_SOURCE_DIR}/LICENSE" licence)
if(WIN32)
  # CR LF, for Notepad.
  string(REPLACE "\n" "\r\n" licence "${licence}")
  string(REPLACE "\n" "\r\n" notices "${kolvane_notices}")
  kolvane_write_text("${PROJECT_BINARY_DIR}/LICENSE.txt" "${licence}")
  kolvane_write_text("${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt"
    "kolvane.exe contains code from the projects below, each under its own licence.\r
kolvane itself is under the MIT licence in LICENSE.txt.\r
${notices}")
  install(FILES "${PROJECT_BINARY_DIR}/LICENSE.txt" "${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt"
          DESTINATION .)
else()
  # The licence text as a License field's continuation: each line indented by one space, an
  # empty line as " .". The copyright line goes to the Copyright field.
  string(FIND "${licence}" "Permission is hereby granted" at)
  if(NOT licence MATCHES "^MIT License\n\nCopyright \\(c\\) 2026 the kolvane developers\n" OR at EQUAL -1)
    message(FATAL_ERROR "LICENSE: expected the MIT licence of the kolvane developers")
  endif()
  string(SUBSTRING "${licence}" ${at} -1 licence)
  string(STRIP "${licence}" licence)
  string(REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REPLACE "\n" "\n " licence " ${licence}")
  kolvane_write_text("${PROJECT_BINARY_DIR}/copyright"
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: kolvane
Upstream-Contact: ${KOLVANE_MAINTAINER}

Files: *
Copyright: 2026 the kolvane developers
License: Expat
${licence}
${kolvane_notices}")
  install(FILES "${PROJECT_BINARY_DIR}/copyright" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
endif()
