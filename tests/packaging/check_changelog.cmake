# The package's changelog names the version being built in its first entry, in Debian's
# form: "kelvaro (VERSION) DISTRIBUTION; urgency=...". Run with -DCHANGELOG=<file>
# -DVERSION=<the project's version>.
file(READ "${CHANGELOG}" text)
string(REGEX MATCH "^[^\n]*" first "${text}")
if(NOT first MATCHES "^kelvaro \\(([^)]+)\\) [a-z-]+; urgency=[a-z]+$")
  message(FATAL_ERROR "${CHANGELOG} does not begin with a Debian changelog entry:\n${first}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "${CHANGELOG}'s first entry is for ${CMAKE_MATCH_1}, the build is "
                      "${VERSION}: add an entry for ${VERSION}")
endif()
