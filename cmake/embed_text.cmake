# Writes INPUT into the header OUTPUT as the string-literal macro MACRO, one
# literal a line, every byte escaped, so that any text survives the
# compiler of either target unchanged; and MACRO_SHA256, the text's SHA-256
# in base64, as a Content-Security-Policy names an inline script allowed to
# run. ELEMENT is the element of a page the text goes into (script, style),
# or empty for a page of its own. Run as `cmake -P` at build time:
#   cmake -DINPUT=file -DOUTPUT=header -DMACRO=NAME -DELEMENT=script -P embed_text.cmake
file(READ "${INPUT}" text)
# Text inside an element: these would end or disturb it.
if(ELEMENT)
  string(TOLOWER "${text}" lower)
  foreach(forbidden "</${ELEMENT}" "<!--")
    string(FIND "${lower}" "${forbidden}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${INPUT} holds \"${forbidden}\", which would break the page it is embedded in")
    endif()
  endforeach()
endif()

# Base64 of the digest, three bytes (six hex digits) at a time; the
# digest's 32 bytes end in one group of two, padded with "=".
file(SHA256 "${INPUT}" digest)
set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
set(base64 "")
foreach(at RANGE 0 63 6)
  string(SUBSTRING "${digest}000000" ${at} 6 group)
  math(EXPR value "0x${group}")
  foreach(shift 18 12 6 0)
    math(EXPR index "(${value} >> ${shift}) & 63")
    string(SUBSTRING "${alphabet}" ${index} 1 char)
    string(APPEND base64 "${char}")
  endforeach()
endforeach()
string(SUBSTRING "${base64}" 0 43 base64)
string(APPEND base64 "=")

file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "(..)" "\\\\x\\1" escaped "${hex}")
# A literal ends after each line feed.
string(REPLACE "\\x0a" "\\x0a\" \\\n  \"" escaped "${escaped}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}" "// Made from ${name} at build time.\n#pragma once\n#define ${MACRO} \\\n  \"${escaped}\"\n"
                       "#define ${MACRO}_SHA256 \"${base64}\"\n")
