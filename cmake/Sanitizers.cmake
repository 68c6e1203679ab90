if(QN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(QN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QN_SANITIZE must be empty, address or thread")
endif()

if(QN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QN_FUZZ needs clang")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_compile_options(-fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/cmake/fuzz-coverage-ignore.txt)
  add_link_options(-fsanitize=address,undefined)
endif()

# Code that walks the screen's cells and fields compares the model's own bytes, not the input's:
# in the fuzz build its comparisons are not traced for the fuzzer's comparison-guided mutations,
# which cost more than half of every 5250 run there and guide nothing. Its edges still count.
#   qn_untraced_compares(TARGET)             the whole library
#   qn_untraced_compares(SOURCES file...)    single files of the calling directory
function(qn_untraced_compares)
  if(NOT QN_FUZZ)
    return()
  endif()
  if(ARGV0 STREQUAL "SOURCES")
    list(REMOVE_AT ARGV 0)
    set_property(SOURCE ${ARGV} APPEND PROPERTY COMPILE_OPTIONS -fno-sanitize-coverage=trace-cmp)
  else()
    target_compile_options(${ARGV0} PRIVATE -fno-sanitize-coverage=trace-cmp)
  endif()
endfunction()
