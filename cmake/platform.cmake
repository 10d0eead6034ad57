# Which OS files to build: a source named *_linux.cpp or *_win32.cpp is taken
# only on its own platform, so portable code carries no #ifdef forests.
if(WIN32)
  set(PALISARD_OS win32)
  set(PALISARD_OTHER_OS linux)
else()
  set(PALISARD_OS linux)
  set(PALISARD_OTHER_OS win32)
endif()

# Warnings stay at zero on both targets; CI builds make them errors. With
# clang, the lock annotations are checked too.
option(PALISARD_WERROR "Treat warnings as errors" OFF)
set(PALISARD_WARNINGS -Wall -Wextra)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  list(APPEND PALISARD_WARNINGS -Wthread-safety)
endif()
if(PALISARD_WERROR)
  list(APPEND PALISARD_WARNINGS -Werror)
endif()

# Collects the sources below DIR matching GLOB, minus tests, the other
# platform's files, and anything in EXCLUDE_REGEX.
function(palisard_collect out dir glob)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS "${dir}/${glob}")
  list(FILTER files EXCLUDE REGEX "_${PALISARD_OTHER_OS}(_test)?\\.cpp$")
  set(${out} ${files} PARENT_SCOPE)
endfunction()
