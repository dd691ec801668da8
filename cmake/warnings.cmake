# The project's warning flags, with -Werror when warnings are errors. Every
# target of ours compiles with them; the projects of their own (the DLL
# structure tests, the fuzz harnesses) include this file too.
option(MORAVEL_WERROR "Treat compiler warnings as errors" OFF)
set(MORAVEL_WARNINGS -Wall -Wextra)
if(MORAVEL_WERROR)
  list(APPEND MORAVEL_WARNINGS -Werror)
endif()
