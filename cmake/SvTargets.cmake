# Helpers shared by the folders: one library per folder made of its sources, and one test
# program per folder made of the *Test.cpp files that sit beside the code.

# Drops from `list_var` the files under the named subfolders of the current folder (a subfolder
# that is a library of its own).
function(sv_exclude_dirs list_var)
  set(files ${${list_var}})
  foreach(dir ${ARGN})
    list(FILTER files EXCLUDE REGEX "^${CMAKE_CURRENT_SOURCE_DIR}/${dir}/")
  endforeach()
  set(${list_var} ${files} PARENT_SCOPE)
endfunction()

# sv_library(<target> [DEPS <targets>...] [EXCLUDE_DIRS <subfolders>...])
# Takes every .cpp under the current folder except *Test.cpp, *_main.cpp and the files under
# EXCLUDE_DIRS.
function(sv_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE_DIRS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "Test\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "_main\\.cpp$")
  sv_exclude_dirs(sources ${ARG_EXCLUDE_DIRS})
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
endfunction()

# sv_discover_tests(<target> LABEL <label> [E2E <regex>] [SLOW <regex>])
# Registers each test of a test program with ctest under the folder's label. Tests whose
# "Suite.Name" matches the E2E regex (checks with outside clients such as ffmpeg, ffprobe,
# tsinfo, curl) also carry the label e2e, those matching SLOW (over 10 s) the label slow.
function(sv_discover_tests target)
  cmake_parse_arguments(ARG "" "LABEL;E2E;SLOW" "" ${ARGN})
  gtest_discover_tests(${target}
    TEST_LIST ${target}_list
    PROPERTIES LABELS ${ARG_LABEL}
    DISCOVERY_TIMEOUT 60)
  if(NOT ARG_E2E AND NOT ARG_SLOW)
    return()
  endif()
  # Runs when ctest reads the discovered tests, after the discovery's own include file.
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
  set(body "foreach(t IN LISTS ${target}_list)\n  set(labels ${ARG_LABEL})\n")
  if(ARG_E2E)
    string(APPEND body "  if(t MATCHES \"${ARG_E2E}\")\n    list(APPEND labels e2e)\n  endif()\n")
  endif()
  if(ARG_SLOW)
    string(APPEND body "  if(t MATCHES \"${ARG_SLOW}\")\n    list(APPEND labels slow)\n  endif()\n")
  endif()
  string(APPEND body "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"\${labels}\")\nendforeach()\n")
  file(WRITE "${script}" "${body}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

# sv_tests(<target> LABEL <label> [DEPS <targets>...] [E2E <regex>] [SLOW <regex>]
#          [EXCLUDE_DIRS <subfolders>...])
# Builds the folder's *Test.cpp files (except those under EXCLUDE_DIRS) into one program and
# registers each test with ctest.
function(sv_tests target)
  cmake_parse_arguments(ARG "" "LABEL;E2E;SLOW" "DEPS;EXCLUDE_DIRS" ${ARGN})
  file(GLOB_RECURSE tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  sv_exclude_dirs(tests ${ARG_EXCLUDE_DIRS})
  if(NOT tests)
    return()
  endif()
  add_executable(${target} ${tests})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  sv_discover_tests(${target} LABEL ${ARG_LABEL} E2E "${ARG_E2E}" SLOW "${ARG_SLOW}")
endfunction()
