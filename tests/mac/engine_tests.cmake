# The engine suite of tests/plugin as the Mac build runs it: its file tests
# name files by POSIX paths (the Mac file cases are in mac_tests), and the
# Windows cases are Windows-only.
file(GLOB engine_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/plugin/*_test.cpp)
list(FILTER engine_tests EXCLUDE REGEX "/(files|windows)_test\\.cpp$")
