# Runs the test program to write the picture documents into DIR (given to it as a path relative
# to DIR's parent, which reads the same to a Windows program under wine), then checks each with
# xmllint, and renders each with rsvg-convert where the build machine has it.
# Usage: cmake -DEMULATOR=... -DEXE=... -DXMLLINT=... -DDIR=... -P plot-documents-parse.cmake
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
get_filename_component(parent "${DIR}" DIRECTORY)
get_filename_component(name "${DIR}" NAME)
execute_process(COMMAND ${CMAKE_COMMAND} -E env KOLVANE_PLOT_DIR=${name}
                        ${EMULATOR} ${EXE} --gtest_filter=PlotDocument.WritesTheDocumentsWhereAsked
                WORKING_DIRECTORY "${parent}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${EXE} did not write the documents")
endif()
file(GLOB documents "${DIR}/*.svg")
list(LENGTH documents n)
if(n LESS 6)
  message(FATAL_ERROR "expected 6 documents in ${DIR}, found ${n}")
endif()
find_program(RSVG_CONVERT rsvg-convert)
foreach(document IN LISTS documents)
  execute_process(COMMAND ${XMLLINT} --noout "${document}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${document} does not parse")
  endif()
  if(RSVG_CONVERT)
    execute_process(COMMAND ${RSVG_CONVERT} -w 800 -o "${document}.png" "${document}"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${document} does not render")
    endif()
  endif()
endforeach()
message(STATUS "${n} documents parse")
