# The test that stands for tests which could not be made because a tool is missing (WHAT names it
# and what it is for): in CI, which installs every tool the tests use (.ci/setup), that is a
# failure; elsewhere the test is skipped (CTest matches "not installed: "). CI is recognised by
# the environment variable LAUNCHER_CI, which .ci/run sets; tests/support/missing_tool.h is the
# same rule inside a test.
if(DEFINED ENV{LAUNCHER_CI} AND NOT "$ENV{LAUNCHER_CI}" STREQUAL "" AND
   NOT "$ENV{LAUNCHER_CI}" STREQUAL "0")
  message(FATAL_ERROR "missing in CI, where .ci/setup installs it: ${WHAT}")
endif()
message(NOTICE "not installed: ${WHAT}")
