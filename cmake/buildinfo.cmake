# Writes OUT, the build's git revision for `quorvel --version`, and touches
# it only when the revision changed (so that nothing relinks otherwise).
# Run at every build: cmake -DSRC=... -DOUT=... -P buildinfo.cmake
execute_process(COMMAND git -C "${SRC}" rev-parse --short=12 HEAD
                OUTPUT_VARIABLE rev OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR rev STREQUAL "")
  set(rev "unknown")
else()
  execute_process(COMMAND git -C "${SRC}" status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes ERROR_QUIET)
  if(NOT changes STREQUAL "")
    string(APPEND rev "-modified")
  endif()
endif()
set(text "// Written by cmake/buildinfo.cmake at build time.\n#include \"cli/version.h\"\nconst char* buildRevision() { return \"${rev}\"; }\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
