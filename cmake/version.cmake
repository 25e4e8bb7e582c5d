# Writes the header that names the build: the project's version and, in a git checkout, the commit
# (`git describe`). Run at every build, so a new commit is named without configuring again; the file
# is rewritten only when its text changes, so nothing recompiles for nothing.
# Called with -DVERSION=… -DSOURCE_DIR=… -DOUT=….
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" describe --always --dirty --tags
                  WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE commit
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
set(text "// Made by cmake/version.cmake at build time.\n#define QV_VERSION \"${VERSION}\"\n#define QV_COMMIT \"${commit}\"\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
