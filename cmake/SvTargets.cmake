# Helpers shared by the folders: one library per folder made of its sources, and one test
# program per folder made of the *Test.cpp files that sit beside the code.

# sv_library(<target> [DEPS <targets>...])
# Takes every .cpp under the current folder except *Test.cpp and *_main.cpp.
function(sv_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "Test\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "_main\\.cpp$")
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
endfunction()

# sv_tests(<target> LABEL <label> [DEPS <targets>...])
# Builds the folder's *Test.cpp files into one program and registers each test with ctest.
function(sv_tests target)
  cmake_parse_arguments(ARG "" "LABEL" "DEPS" ${ARGN})
  file(GLOB_RECURSE tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  if(NOT tests)
    return()
  endif()
  add_executable(${target} ${tests})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${target}
    PROPERTIES LABELS ${ARG_LABEL}
    DISCOVERY_TIMEOUT 60)
endfunction()
