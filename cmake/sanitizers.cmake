# GCC's flow analysis sees uninitialised members in the library's own
# templates once a sanitizer instruments them; the plain build keeps the
# check.
if(PALISARD_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-maybe-uninitialized)
endif()

if(PALISARD_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(PALISARD_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(PALISARD_SANITIZE STREQUAL "fuzzer")
  # Everything instrumented for libFuzzer; only the fuzz targets link its main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT PALISARD_SANITIZE STREQUAL "")
  message(FATAL_ERROR "PALISARD_SANITIZE must be empty, 'address', 'thread' or 'fuzzer'")
endif()
