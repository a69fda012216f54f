# tavo_library(NAME DIR DEPS...): a static library of every .cpp directly in DIR.
# Files are globbed so that a new source file needs no edit here.
function(tavo_library name dir)
  file(GLOB _src CONFIGURE_DEPENDS "${dir}/*.cpp")
  file(GLOB _hdr CONFIGURE_DEPENDS "${dir}/*.h")
  if(NOT _src)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
    return()
  endif()
  add_library(${name} STATIC ${_src} ${_hdr})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# tavo_tests(NAME DIR DEPS...): one GoogleTest executable of every .cpp in tests/DIR.
function(tavo_tests name dir)
  file(GLOB _src CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/${dir}/*.cpp")
  if(NOT _src)
    return()
  endif()
  add_executable(${name} ${_src})
  target_link_libraries(${name} PRIVATE ${ARGN} tavo_testsupport GTest::gtest GTest::gmock)
  # A folder with its own main.cpp (say, one that needs a QApplication) brings its own main.
  if(NOT EXISTS "${PROJECT_SOURCE_DIR}/tests/${dir}/main.cpp")
    target_link_libraries(${name} PRIVATE tavo_testmain)
  endif()
  # Folders and the quiet, display-less environment come from tests/support (compiled in).
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
include(GoogleTest)
