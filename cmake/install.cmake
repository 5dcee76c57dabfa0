# Installation and packages. The version is the project's VERSION alone: the program prints it,
# the installed manual page's footer and the Windows README are given it, the packages carry it.
set(KOLVANE_MAINTAINER "kolvane developers <kolvane-dev@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

if(WIN32)
  # A Windows program is unpacked and run where it lies: the program and its README side by side.
  install(TARGETS kolvane RUNTIME DESTINATION .)
  # kolvane-report, the reader of the runs' documents, once it is built (see below).
  if(TARGET kolvane-report)
    install(TARGETS kolvane-report RUNTIME DESTINATION .)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt
                 ${PROJECT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  # The shape of json='s document, for the tools that read it.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/kolvane-run.schema.json DESTINATION .)
else()
  include(GNUInstallDirs)
  install(TARGETS kolvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The shape of json='s document, for the tools that read it.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/kolvane-run.schema.json DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Manual pages are installed compressed (gzip -9n: no name, no time stamp, same bytes each build).
  find_program(KOLVANE_GZIP gzip REQUIRED)
  # The page in the tree names the program without a version, so that it reads true from the
  # tree (man ./man/NAME.1); the installed page's footer gets the project's version.
  # kolvane_manual_page(NAME [COMPONENT]): the component is the package the page goes in.
  function(kolvane_manual_page name)
    set(page ${PROJECT_BINARY_DIR}/${name}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/man/${name}.1
              -DOUT=${page} -DVERSION=${PROJECT_VERSION}
              -P ${PROJECT_SOURCE_DIR}/cmake/man-version.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/man/${name}.1 ${PROJECT_SOURCE_DIR}/cmake/man-version.cmake
      VERBATIM)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${KOLVANE_GZIP} -9nkf ${page}
      DEPENDS ${page}
      VERBATIM)
    string(REPLACE "-" "_" target ${name}_manual)
    add_custom_target(${target} ALL DEPENDS ${page}.gz)
    set(component Unspecified)
    if(ARGC GREATER 1)
      set(component ${ARGV1})
    endif()
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endfunction()
  kolvane_manual_page(kolvane)

  # kolvane-report, the reader of the runs' documents, with its page, once the program is built:
  # a tree without it still installs and packages kolvane alone. This file is included after
  # the programs are defined, so the test sees the target.
  if(TARGET kolvane-report)
    install(TARGETS kolvane-report RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    kolvane_manual_page(kolvane-report)
    install(FILES ${PROJECT_SOURCE_DIR}/completion/kolvane-report.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kolvane-report)
  endif()

  # kolvane-mpi, once MPI was found, goes in a package of its own: kolvane and its package never
  # depend on MPI. Its copyright file is the project's (MPI is linked, not embedded).
  if(TARGET kolvane-mpi)
    install(TARGETS kolvane-mpi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT mpi)
    kolvane_manual_page(kolvane-mpi mpi)
    install(FILES ${PROJECT_BINARY_DIR}/copyright
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kolvane-mpi COMPONENT mpi)
  endif()

  # bash-completion loads completions/NAME on demand when NAME is first completed.
  install(FILES ${PROJECT_SOURCE_DIR}/completion/kolvane.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kolvane)
endif()

set(CPACK_PACKAGE_NAME kolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kolvane developers")
set(CPACK_PACKAGE_CONTACT "${KOLVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "block copier and storage exerciser for files and devices")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_SOURCE_GENERATOR "")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  # Everything in a folder of its own, kolvane-VERSION-win64/, so that unpacking the zip where
  # the user stands does not scatter its files there.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KOLVANE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "kolvane reads blocks of one size from an input and writes the same bytes,\n"
      "re-blocked to another size, to an output, counting full and partial records\n"
      "and timing the run. It can repeat the copy many times at random block-aligned\n"
      "offsets and make reads, writes or both direct, bypassing the page cache, so\n"
      "that a run measures the device rather than the cache.")
  if(TARGET kolvane-report)
    list(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION
         "\nkolvane-report merges the JSON documents of runs made apart (one per host,\n"
         "one per night) exactly, bucket by bucket, compares a run with a base one as\n"
         "a regression gate, and draws any document as an SVG picture.")
  endif()
  string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
  if(TARGET kolvane-mpi)
    # Two packages: kolvane (everything but kolvane-mpi, as before) and kolvane-mpi.
    set(CPACK_DEB_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_ALL Unspecified mpi)
    set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME kolvane)
    set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
    set(CPACK_DEBIAN_MPI_PACKAGE_NAME kolvane-mpi)
    set(CPACK_DEBIAN_MPI_PACKAGE_RECOMMENDS "openmpi-bin")
    set(CPACK_DEBIAN_MPI_DESCRIPTION
        "one kolvane run across many hosts, launched by MPI\n"
        "kolvane-mpi makes the run kolvane makes on every rank an MPI launcher\n"
        "(mpirun, srun) starts, one or more per host, and reports the whole on rank 0:\n"
        "its records, bytes and I/Os summed and its latency histograms added bucket by\n"
        "bucket, exactly as kolvane-report merge adds the ranks' own documents.")
    string(JOIN "" CPACK_DEBIAN_MPI_DESCRIPTION ${CPACK_DEBIAN_MPI_DESCRIPTION})
  endif()
endif()
include(cmake/notices.cmake)

include(CPack)
