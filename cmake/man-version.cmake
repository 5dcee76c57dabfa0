# Writes the manual page IN to OUT with VERSION added to its footer: the .TH line's source field
# "kolvane" becomes "kolvane VERSION", on each program's page (KOLVANE, KOLVANE-REPORT): the
# programs share one version. A page whose .TH line has no such field is an error rather than an
# installed page without its version.
# Usage: cmake -DIN=man/kolvane.1 -DOUT=build/kolvane.1 -DVERSION=1.2 -P man-version.cmake
file(READ "${IN}" page)
if(NOT page MATCHES "^(\\.TH KOLVANE(-[A-Z]+)? 1 \"[^\"\n]*\" )\"kolvane\"( [^\n]*\n)(.*)$")
  message(FATAL_ERROR "${IN}: the first line must be .TH KOLVANE[-NAME] 1 \"DATE\" \"kolvane\" ...")
endif()
file(WRITE "${OUT}" "${CMAKE_MATCH_1}\"kolvane ${VERSION}\"${CMAKE_MATCH_3}${CMAKE_MATCH_4}")
