# Windows test builds: how their programs run under wine, and which DLLs
# count as the shipped ones (this build's, or those in MORAVEL_SHIPPED_DIR,
# the lib directory of a release build).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MORAVEL_WINE /usr/lib/wine/wine CACHE FILEPATH "The loader of 32-bit Windows programs")
else()
  set(MORAVEL_WINE /usr/lib/wine/wine64 CACHE FILEPATH "The loader of 64-bit Windows programs")
endif()
set(MORAVEL_WINE_ENVIRONMENT
  "WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")

set(MORAVEL_SHIPPED_DIR "" CACHE PATH "Where the shipped Moravel.dll and MoravelU.dll are (empty: this build)")
if(MORAVEL_SHIPPED_DIR)
  set(MORAVEL_SHIPPED_BYTE ${MORAVEL_SHIPPED_DIR}/Moravel.dll)
  set(MORAVEL_SHIPPED_UNICODE ${MORAVEL_SHIPPED_DIR}/MoravelU.dll)
else()
  set(MORAVEL_SHIPPED_BYTE $<TARGET_FILE:Moravel>)
  set(MORAVEL_SHIPPED_UNICODE $<TARGET_FILE:MoravelU>)
endif()
