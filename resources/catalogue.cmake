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

# Windows resources of one build: the catalogue as a string table (language
# English (United States)) and the 14-byte "Q7INF" record: the signature, the
# first string id as a 16-bit number, eight zero bytes. Generated while
# building, from the same list of texts.
function(moravel_add_resource_script out signature)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DMORAVEL_RC_OUT=${out} -DMORAVEL_RC_SIGNATURE=${signature}
            -P ${MORAVEL_CATALOGUE_SCRIPT}
    DEPENDS ${MORAVEL_CATALOGUE_FILE} ${MORAVEL_CATALOGUE_SCRIPT}
    COMMENT "Generating ${signature} resources from catalogue.txt"
    VERBATIM)
endfunction()
set(MORAVEL_CATALOGUE_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED MORAVEL_RC_OUT)
  string(LENGTH "${MORAVEL_RC_SIGNATURE}" siglen)
  if(NOT siglen EQUAL 4)
    message(FATAL_ERROR "the signature must be four characters: ${MORAVEL_RC_SIGNATURE}")
  endif()
  file(STRINGS ${MORAVEL_CATALOGUE_FILE} entries ENCODING UTF-8)
  set(table "")
  set(id ${MORAVEL_CATALOGUE_FIRST_ID})
  foreach(entry IN LISTS entries)
    string(REPLACE "\\" "\\\\" entry "${entry}")
    string(REPLACE "\"" "\"\"" entry "${entry}")
    string(APPEND table "  ${id}, L\"${entry}\"\n")
    math(EXPR id "${id} + 1")
  endforeach()
  math(EXPR firstid "${MORAVEL_CATALOGUE_FIRST_ID}" OUTPUT_FORMAT HEXADECIMAL)
  file(WRITE ${MORAVEL_RC_OUT}.tmp
"/* Generated from resources/catalogue.txt; do not edit. */
LANGUAGE 9, 1

STRINGTABLE
BEGIN
${table}END

Q7INF RCDATA
BEGIN
  \"${MORAVEL_RC_SIGNATURE}\", ${firstid}, 0, 0, 0, 0
END
")
  file(COPY_FILE ${MORAVEL_RC_OUT}.tmp ${MORAVEL_RC_OUT} ONLY_IF_DIFFERENT)
  file(REMOVE ${MORAVEL_RC_OUT}.tmp)
endif()
