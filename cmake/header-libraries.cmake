# The header-only libraries the program builds with: nlohmann-json for the JSON report and xxHash
# for block checksums, both from Debian's packages (nlohmann-json3-dev, libxxhash-dev). The cross
# compiler does not search the build machine's /usr/include (nor should it: its C library headers
# are the wrong ones), so for it the headers are copied into the build tree and searched there.
set(KOLVANE_HEADER_ROOT "/usr/include" CACHE PATH "Where the header-only libraries are installed")

foreach(header nlohmann/json.hpp xxhash.h)
  if(NOT EXISTS "${KOLVANE_HEADER_ROOT}/${header}")
    message(FATAL_ERROR "${KOLVANE_HEADER_ROOT}/${header} not found: install nlohmann-json3-dev "
                        "and libxxhash-dev (scripts/test-all.sh does)")
  endif()
endforeach()

if(CMAKE_CROSSCOMPILING OR MSVC)
  set(kolvane_headers "${CMAKE_BINARY_DIR}/header-libraries")
  file(COPY "${KOLVANE_HEADER_ROOT}/nlohmann" DESTINATION "${kolvane_headers}")
  file(COPY "${KOLVANE_HEADER_ROOT}/xxhash.h" DESTINATION "${kolvane_headers}")
else()
  set(kolvane_headers "${KOLVANE_HEADER_ROOT}")
endif()

add_library(kolvane_json INTERFACE)
target_include_directories(kolvane_json SYSTEM INTERFACE "${kolvane_headers}")

# xxHash compiled into each user, so the Windows program imports no library of it.
add_library(kolvane_xxhash INTERFACE)
target_include_directories(kolvane_xxhash SYSTEM INTERFACE "${kolvane_headers}")
target_compile_definitions(kolvane_xxhash INTERFACE XXH_INLINE_ALL)
