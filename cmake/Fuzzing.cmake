# Fuzz harnesses need clang's libFuzzer. With ARDANTO_FUZZ on, every target of
# the suite is compiled with coverage feedback for the fuzzer and with ASan and
# UBSan, and ARDANTO_FUZZ_SUPPORTED tells tests/fuzz whether it can be built.
# A compiler without -fsanitize=fuzzer (gcc) leaves the build as it was.

include(CheckCXXSourceCompiles)

set(ARDANTO_FUZZ_SUPPORTED OFF)
if(ARDANTO_FUZZ)
  set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer")
  set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=fuzzer")
  check_cxx_source_compiles([[
    #include <cstddef>
    #include <cstdint>
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
  ]] ARDANTO_HAVE_LIBFUZZER)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)

  if(ARDANTO_HAVE_LIBFUZZER)
    message(STATUS "Fuzz build: libFuzzer with address and undefined sanitizers")
    set(ARDANTO_FUZZ_SUPPORTED ON)
    set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(ardanto_config INTERFACE -fsanitize=fuzzer-no-link ${_san}
      # The warning set is gcc's; clang's own opinions are for the normal build
      # to settle, not a reason to stop fuzzing.
      -Wno-unknown-warning-option -Wno-error)
    target_link_options(ardanto_config INTERFACE ${_san})
  else()
    message(WARNING "ARDANTO_FUZZ: ${CMAKE_CXX_COMPILER_ID} has no -fsanitize=fuzzer; "
                    "the fuzz harnesses are not built (configure with CXX=clang++)")
  endif()
endif()
