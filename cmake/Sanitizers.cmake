# Sanitized and fuzzing builds.
#
#   QUORVANE_SANITIZE=ON  everything (libraries, programs, the converters the tool embeds, tests)
#                         built with AddressSanitizer and UndefinedBehaviorSanitizer; any report
#                         ends the program.
#   QUORVANE_FUZZ=ON      additionally the libFuzzer targets of fuzz/ (clang only). Implies
#                         QUORVANE_SANITIZE, and instruments every library for coverage, so one
#                         build directory serves both the sanitized tests and the fuzzers.
option(QUORVANE_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUORVANE_FUZZ "Build the libFuzzer targets of fuzz/ (clang; implies QUORVANE_SANITIZE)" OFF)

if(QUORVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUORVANE_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  set(QUORVANE_SANITIZE ON CACHE BOOL "" FORCE)
endif()

if(QUORVANE_SANITIZE)
  set(QV_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                         -fno-omit-frame-pointer)
  # The standard library's own checks as well: an index past a std::array, std::span or
  # std::vector inside a larger object is no error to AddressSanitizer.
  add_compile_options(${QV_SANITIZER_FLAGS} -D_GLIBCXX_ASSERTIONS)
  add_link_options(${QV_SANITIZER_FLAGS})
endif()

if(QUORVANE_FUZZ)
  # Coverage instrumentation for the fuzzers in every object; the fuzzer's own main is linked
  # only into the targets of fuzz/.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
