# Fuzz runs in the tests: the targets of fuzz/ are built with clang's libFuzzer in a project of
# their own (fuzz/CMakeLists.txt) and each runs TAVO_FUZZ_SECONDS from seeds made of real inputs.
# Each run builds its own target first, not the main build: code that only gcc accepts fails that
# run, never the station's build nor the other runs.
set(TAVO_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz target runs in the tests")
find_program(TAVO_CLANGXX NAMES clang++ clang++-14)
if(TAVO_CLANGXX AND NOT DEFINED CACHE{TAVO_LIBFUZZER})
  set(_probe ${CMAKE_BINARY_DIR}/CMakeFiles/libfuzzer_probe)
  file(WRITE ${_probe}.cpp "#include <cstddef>\n#include <cstdint>\n"
       "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
  execute_process(COMMAND ${TAVO_CLANGXX} -fsanitize=fuzzer,address,undefined ${_probe}.cpp -o ${_probe}
                  RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
  if(_rc EQUAL 0)
    set(TAVO_LIBFUZZER ON CACHE BOOL "clang links -fsanitize=fuzzer")
  else()
    set(TAVO_LIBFUZZER OFF CACHE BOOL "clang links -fsanitize=fuzzer")
  endif()
endif()
if(NOT TAVO_LIBFUZZER)
  message(STATUS "fuzz: clang++ with libFuzzer (libclang-rt-14-dev) not found, no fuzz runs")
  return()
endif()

add_executable(fuzz-seeds ${PROJECT_SOURCE_DIR}/fuzz/make_seeds.cpp)
target_link_libraries(fuzz-seeds PRIVATE tavo_fsdk tavo_testsupport opencv_imgcodecs opencv_imgproc)

set(_work ${PROJECT_BINARY_DIR}/fuzz/runs)
set(_bin ${PROJECT_BINARY_DIR}/fuzz)
add_test(NAME fuzz.configure
         COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR}/fuzz -B ${_bin} -G ${CMAKE_GENERATOR}
                 -DCMAKE_CXX_COMPILER=${TAVO_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
                 -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER})
set_tests_properties(fuzz.configure PROPERTIES FIXTURES_SETUP fuzz_build)
add_test(NAME fuzz.seeds COMMAND fuzz-seeds ${_work}/seeds)
set_tests_properties(fuzz.seeds PROPERTIES FIXTURES_SETUP fuzz_seeds)
set(_seeds_ini_file ${PROJECT_SOURCE_DIR}/fuzz/corpus/ini)
set(_seeds_request_file ${PROJECT_SOURCE_DIR}/fuzz/corpus/request)
set(_seeds_face_file ${_work}/seeds/face_file)
set(_seeds_template ${_work}/seeds/template)
foreach(t ini_file request_file face_file template)
  add_test(NAME fuzz.${t}
           COMMAND bash ${PROJECT_SOURCE_DIR}/fuzz/run.sh ${_bin} ${t} ${TAVO_FUZZ_SECONDS} ${_work}/${t}
                   ${_seeds_${t}})
  math(EXPR _timeout "${TAVO_FUZZ_SECONDS} + 900")  # the first build of the target included
  set_tests_properties(fuzz.${t} PROPERTIES TIMEOUT ${_timeout} FIXTURES_REQUIRED fuzz_build
                                            RESOURCE_LOCK fuzz_build_dir)
  if(_seeds_${t} MATCHES "^${_work}")
    set_tests_properties(fuzz.${t} PROPERTIES FIXTURES_REQUIRED "fuzz_build;fuzz_seeds")
  endif()
endforeach()
