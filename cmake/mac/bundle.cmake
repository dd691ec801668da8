# The Mac bundle, cross-built with cmake/mac-i386.cmake: how Mach-O files are
# linked, the stub libraries the bundle links against, and the steps after
# the link that make the bundle folder.
set(MORAVEL_MAC_BUNDLE_TOOL "" CACHE FILEPATH "mac_bundle_tool built for this machine (cmake/mac)")
if(NOT MORAVEL_MAC_BUNDLE_TOOL)
  message(FATAL_ERROR "MORAVEL_MAC_BUNDLE_TOOL must name mac_bundle_tool (scripts/mac.sh builds it)")
endif()

# The linker writes i386 Mach-O for Mac OS X 10.6, whose loader reads the
# compressed dyld information this linker writes. It fills the padding
# between the pieces of a section from memory it never clears, so it runs
# with every allocation cleared (glibc's allocator: perturbation byte 0xFF
# fills new blocks with zeros; without the per-thread cache, which skips
# that): the padding is zero and two links of the same objects are the same.
set(MORAVEL_MAC_LINK "env GLIBC_TUNABLES=glibc.malloc.tcache_count=0:glibc.malloc.perturb=255 ${MORAVEL_MAC_LINKER} -arch i386 -macosx_version_min 10.6 -sdk_version 10.6")
set(CMAKE_CXX_CREATE_SHARED_MODULE "${MORAVEL_MAC_LINK} -bundle <LINK_FLAGS> -o <TARGET> <OBJECTS> <LINK_LIBRARIES>")
set(CMAKE_C_CREATE_SHARED_LIBRARY "${MORAVEL_MAC_LINK} -dylib <LINK_FLAGS> -o <TARGET> <OBJECTS> <LINK_LIBRARIES>")

# moravel_mac_stub(<target> <install name> <source> [libraries]): a stub
# library with the system library's install name, so that the bundle's
# imports are bound two-level to that library.
function(moravel_mac_stub target install_name source)
  add_library(${target} SHARED ${source})
  target_compile_options(${target} PRIVATE -fno-builtin -w)
  target_link_libraries(${target} PRIVATE ${ARGN})
  set_target_properties(${target} PROPERTIES LINK_FLAGS "-install_name ${install_name}"
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/stubs)
endfunction()
moravel_mac_stub(moravel_mac_system /usr/lib/libSystem.B.dylib ${CMAKE_CURRENT_LIST_DIR}/stubs/system.c)
moravel_mac_stub(moravel_mac_carbon /System/Library/Frameworks/Carbon.framework/Versions/A/Carbon
  ${CMAKE_CURRENT_LIST_DIR}/stubs/carbon.c moravel_mac_system)

# moravel_mac_bundle(<target> <objects target> [TWIN]): links the objects as
# the executable <target> and makes <target>.bundle beside it: Contents/MacOS,
# Contents/Info.plist and Contents/Resources/<target>.rsrc (the catalogue,
# string list 30708). TWIN: a twin linked at another address,
# <target>.rebased, lets the tests find every absolute address the linker
# wrote.
function(moravel_mac_bundle target objects)
  cmake_parse_arguments(ARG "TWIN" "" "" ${ARGN})
  set(contents ${PROJECT_BINARY_DIR}/${target}.bundle/Contents)
  set(MORAVEL_BUNDLE_EXECUTABLE ${target})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Info.plist.in ${PROJECT_BINARY_DIR}/generated/${target}.plist @ONLY)
  set(variants ${target})
  if(ARG_TWIN)
    list(APPEND variants ${target}.rebased)
  endif()
  foreach(variant ${variants})
    add_library(${variant} MODULE $<TARGET_OBJECTS:${objects}>)
    target_link_libraries(${variant} PRIVATE moravel_mac_carbon moravel_mac_system)
    set_target_properties(${variant} PROPERTIES PREFIX "" SUFFIX "" LINKER_LANGUAGE CXX
      LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/link)
    add_custom_command(TARGET ${variant} POST_BUILD
      COMMAND ${MORAVEL_MAC_BUNDLE_TOOL} fix $<TARGET_FILE:${variant}> VERBATIM)
  endforeach()
  if(ARG_TWIN)
    set_target_properties(${target}.rebased PROPERTIES LINK_FLAGS "-image_base 0x10000000")
    add_dependencies(${target} ${target}.rebased)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${contents}/MacOS ${contents}/Resources
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${contents}/MacOS/${target}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_BINARY_DIR}/generated/${target}.plist ${contents}/Info.plist
    COMMAND ${MORAVEL_MAC_BUNDLE_TOOL} rsrc ${MORAVEL_CATALOGUE_FILE} ${contents}/Resources/${target}.rsrc
    VERBATIM)
endfunction()
