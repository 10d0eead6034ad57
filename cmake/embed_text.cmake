# Writes INPUT into the header OUTPUT as the string-literal macro MACRO, one
# literal a line, every byte escaped, so that any text survives the
# compiler of either target unchanged. Run as `cmake -P` at build time:
#   cmake -DINPUT=file -DOUTPUT=header -DMACRO=NAME -P embed_text.cmake
file(READ "${INPUT}" text)
# The text goes into a <script> element: these would end or disturb it.
string(TOLOWER "${text}" lower)
foreach(forbidden "</script" "<!--")
  string(FIND "${lower}" "${forbidden}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${INPUT} holds \"${forbidden}\", which would break the page it is embedded in")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "(..)" "\\\\x\\1" escaped "${hex}")
# A literal ends after each line feed.
string(REPLACE "\\x0a" "\\x0a\" \\\n  \"" escaped "${escaped}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}" "// Made from ${name} at build time.\n#pragma once\n#define ${MACRO} \\\n  \"${escaped}\"\n")
