# How every build of the plug-in is made: its sources layer by layer, its
# compile settings, and moravel_add_plugin, the one recipe for a library that
# a host loads.
include(${PROJECT_SOURCE_DIR}/resources/catalogue.cmake)

# The catalogue texts as a header, for the POSIX platform file.
set(MORAVEL_GENERATED ${PROJECT_BINARY_DIR}/generated)
moravel_generate_catalogue_header(${MORAVEL_GENERATED}/catalogue_strings.h)

# The engine and the entry (plugin/), the glue without its host door (glue/);
# each build adds the door and the files of its platform (platform/), and the
# file steps that a test build can fail (platform/faults.cpp, empty otherwise).
set(MORAVEL_ENGINE_SOURCES
  ${PROJECT_SOURCE_DIR}/plugin/entry.cpp
  ${PROJECT_SOURCE_DIR}/plugin/setup.cpp
  ${PROJECT_SOURCE_DIR}/plugin/catalogue.cpp
  ${PROJECT_SOURCE_DIR}/plugin/buffers.cpp
  ${PROJECT_SOURCE_DIR}/plugin/scanner.cpp
  ${PROJECT_SOURCE_DIR}/plugin/primitives.cpp
  ${PROJECT_SOURCE_DIR}/plugin/directives.cpp
  ${PROJECT_SOURCE_DIR}/plugin/trim.cpp
  ${PROJECT_SOURCE_DIR}/plugin/encode.cpp
  ${PROJECT_SOURCE_DIR}/plugin/files.cpp
  ${PROJECT_SOURCE_DIR}/plugin/decode.cpp
  ${PROJECT_SOURCE_DIR}/plugin/taglist.cpp
  ${PROJECT_SOURCE_DIR}/plugin/testview.cpp)
set(MORAVEL_GLUE_SOURCES
  ${PROJECT_SOURCE_DIR}/glue/omstring.cpp
  ${PROJECT_SOURCE_DIR}/glue/kxpqutil.cpp
  ${PROJECT_SOURCE_DIR}/glue/extutils.cpp
  ${PROJECT_SOURCE_DIR}/glue/testhooks.cpp)

# moravel_plugin_sources(<var> PLATFORM <posix|windows|mac>): every source of
# a build for that platform. The Mac reaches its host through the parameter
# block (callback_mac.cpp), the others through one request function.
function(moravel_plugin_sources var)
  cmake_parse_arguments(ARG "" "PLATFORM" "" ${ARGN})
  if(ARG_PLATFORM STREQUAL "mac")
    set(door ${PROJECT_SOURCE_DIR}/glue/callback_mac.cpp)
  elseif(ARG_PLATFORM STREQUAL "posix" OR ARG_PLATFORM STREQUAL "windows")
    set(door ${PROJECT_SOURCE_DIR}/glue/callback.cpp)
  else()
    message(FATAL_ERROR "unknown platform '${ARG_PLATFORM}': posix, windows or mac")
  endif()
  if(ARG_PLATFORM STREQUAL "posix")
    set(platform ${PROJECT_SOURCE_DIR}/platform/posix_memory.cpp ${PROJECT_SOURCE_DIR}/platform/posix_files.cpp)
  else()
    set(platform ${PROJECT_SOURCE_DIR}/platform/${ARG_PLATFORM}.cpp)
  endif()
  set(${var} ${MORAVEL_ENGINE_SOURCES} ${MORAVEL_GLUE_SOURCES} ${door} ${platform}
      ${PROJECT_SOURCE_DIR}/platform/faults.cpp PARENT_SCOPE)
endfunction()

# moravel_plugin_compile(<target> UNICODE <0|1> PLATFORM <p> [TEST_HOOKS]):
# compiles the target's plug-in sources as that build.
function(moravel_plugin_compile target)
  cmake_parse_arguments(ARG "TEST_HOOKS" "UNICODE;PLATFORM" "" ${ARGN})
  string(TOUPPER ${ARG_PLATFORM} platform)
  target_compile_definitions(${target} PRIVATE MORAVEL_UNICODE=${ARG_UNICODE} MORAVEL_PLATFORM_${platform}=1
                             MORAVEL_VERSION="${PROJECT_VERSION}")
  if(ARG_TEST_HOOKS)
    target_compile_definitions(${target} PRIVATE MORAVEL_TEST_HOOKS=1)
  endif()
  target_include_directories(${target} PRIVATE ${MORAVEL_GENERATED})
  # Host widths (16 and 32 bits) meet native sizes in the plug-in's own files:
  # every narrowing there is written out.
  get_target_property(sources ${target} SOURCES)
  set(own "")
  foreach(src ${sources})
    foreach(dir plugin glue platform)
      string(FIND "${src}" "${PROJECT_SOURCE_DIR}/${dir}/" at)
      if(at EQUAL 0)
        list(APPEND own ${src})
      endif()
    endforeach()
  endforeach()
  set_source_files_properties(${own} TARGET_DIRECTORY ${target} PROPERTIES COMPILE_OPTIONS "-Wshadow;-Wconversion")
endfunction()

# moravel_add_plugin(<target> UNICODE <0|1> PLATFORM <posix|windows|mac> [TEST_HOOKS]):
# a plug-in library whose one export is the entry, in ${PROJECT_BINARY_DIR}/lib.
function(moravel_add_plugin target)
  cmake_parse_arguments(ARG "TEST_HOOKS" "UNICODE;PLATFORM" "" ${ARGN})
  moravel_plugin_sources(sources PLATFORM ${ARG_PLATFORM})
  if(APPLE)
    # The Mac bundle: the objects, then the bundle made of them (bundle.cmake).
    add_library(${target}_objects OBJECT ${sources})
    moravel_plugin_compile(${target}_objects ${ARGN})
    target_compile_options(${target}_objects PRIVATE -fno-exceptions -fno-rtti)
    set_target_properties(${target}_objects PROPERTIES UNITY_BUILD OFF
      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    if(ARG_TEST_HOOKS)
      moravel_mac_bundle(${target} ${target}_objects)
    else()
      moravel_mac_bundle(${target} ${target}_objects TWIN)
    endif()
    return()
  endif()
  add_library(${target} SHARED ${sources})
  moravel_plugin_compile(${target} ${ARGN})
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  # Each source its own translation unit in every build, also where the host
  # and the tool are built as one unit per target (CMAKE_UNITY_BUILD).
  set_target_properties(${target} PROPERTIES
    UNITY_BUILD OFF
    PREFIX "lib"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
  if(ARG_PLATFORM STREQUAL "windows")
    # A DLL named after the target, its entry exported as plain "Moravel" (no
    # stdcall decoration), the catalogue compiled in as resources and the
    # compiler's runtime linked in, so that it needs only the system's DLLs.
    if(ARG_UNICODE)
      set(signature UCMD)
    else()
      set(signature 7CMD)
    endif()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/generated/${target}.rc)
    moravel_add_resource_script(${rc} ${signature})
    target_sources(${target} PRIVATE ${rc})
    # No link time in the header: two builds of the same sources give the same bytes.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at -Wl,--no-insert-timestamp)
    target_link_libraries(${target} PRIVATE kernel32 user32)
    set_target_properties(${target} PROPERTIES PREFIX "")
  elseif(ARG_PLATFORM STREQUAL "posix")
    if(NOT ARG_TEST_HOOKS)
      target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL -static-libstdc++ -static-libgcc)
    endif()
  elseif(NOT APPLE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # The Mac form on another system, whose Mac functions the tests supply:
    # clang's function-type check would flag every request, since the
    # host's entries are C functions of another module whose records the
    # library declares under its own names.
    target_compile_options(${target} PRIVATE -fno-sanitize=function)
  endif()
endfunction()
