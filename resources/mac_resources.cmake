# Generates the Mac bundle's Rez source, string list 30708, from the one list
# of catalogue texts (catalogue.txt) through the template Moravel.r.in.
include(${CMAKE_CURRENT_LIST_DIR}/catalogue.cmake)
set(MORAVEL_MAC_RESOURCE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/Moravel.r.in)

function(moravel_generate_mac_resources out)
  file(STRINGS ${MORAVEL_CATALOGUE_FILE} entries ENCODING UTF-8)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${MORAVEL_CATALOGUE_FILE} ${MORAVEL_MAC_RESOURCE_TEMPLATE})
  set(lines "")
  foreach(entry IN LISTS entries)
    if(entry MATCHES "[^ -~]")
      message(FATAL_ERROR "catalogue entry is not printable ASCII, which a Rez string takes as it is: ${entry}")
    endif()
    string(REPLACE "\\" "\\\\" entry "${entry}")
    string(REPLACE "\"" "\\\"" entry "${entry}")
    list(APPEND lines "\t\t\"${entry}\"")
  endforeach()
  list(JOIN lines ",\n" MORAVEL_STR_ENTRIES)
  configure_file(${MORAVEL_MAC_RESOURCE_TEMPLATE} ${out} @ONLY)
endfunction()
