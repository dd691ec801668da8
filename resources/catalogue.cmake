# Generates the catalogue header that POSIX builds answer design information from,
# out of the one list of catalogue texts the Windows and Mac resources come from too.
set(MORAVEL_CATALOGUE_FILE ${CMAKE_CURRENT_LIST_DIR}/catalogue.txt)
set(MORAVEL_CATALOGUE_FIRST_ID 30708)

function(moravel_generate_catalogue_header out)
  file(STRINGS ${MORAVEL_CATALOGUE_FILE} entries ENCODING UTF-8)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MORAVEL_CATALOGUE_FILE})
  set(body "")
  set(count 0)
  foreach(entry IN LISTS entries)
    string(REPLACE "\\" "\\\\" entry "${entry}")
    string(REPLACE "\"" "\\\"" entry "${entry}")
    string(APPEND body "  \"${entry}\",\n")
    math(EXPR count "${count} + 1")
  endforeach()
  file(CONFIGURE OUTPUT ${out} CONTENT
"/* catalogue_strings.h: generated from resources/catalogue.txt; do not edit. */
#ifndef MORAVEL_CATALOGUE_STRINGS_H
#define MORAVEL_CATALOGUE_STRINGS_H
enum { kCatalogueFirstId = ${MORAVEL_CATALOGUE_FIRST_ID}, kCatalogueCount = ${count} };
static const char *const kCatalogue[kCatalogueCount] = {
${body}};
#endif
" @ONLY)
endfunction()
