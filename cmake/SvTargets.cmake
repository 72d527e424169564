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

# sv_discover_tests(<target> LABEL <label> [FIXTURES])
# Registers each test of a test program with ctest under the folder's label. A program built
# with the shared main (target test_main) also writes, when it is built, the further labels its
# tests are marked with where they are defined (tests/support/TestLabels.h: e2e for checks with
# outside clients, slow for tests over 10 s). FIXTURES: every test of the program waits for the
# step that makes the test media (tests/support), which ctest runs first and once.
# The target is also added to the build target `tests-<label>`, which builds what that label's
# tests need and nothing else.
function(sv_discover_tests target)
  cmake_parse_arguments(ARG "FIXTURES" "LABEL" "" ${ARGN})
  # Parameterised tests keep GoogleTest's own names ("Prefix/Suite.Name/0"): the printed
  # parameter would put object bytes, which change from build to build, into the ctest name.
  gtest_discover_tests(${target}
    TEST_LIST ${target}_list
    PROPERTIES LABELS ${ARG_LABEL}
    NO_PRETTY_VALUES NO_PRETTY_TYPES
    DISCOVERY_TIMEOUT 60)
  set_property(GLOBAL APPEND PROPERTY SV_TEST_LABELS ${ARG_LABEL})
  set_property(GLOBAL APPEND PROPERTY SV_TESTS_OF_${ARG_LABEL} ${target})
  # Read by ctest after the discovery's own include file.
  get_target_property(links ${target} LINK_LIBRARIES)
  if(test_main IN_LIST links OR test_labels IN_LIST links)
    set(labels "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${target} "--sv_ctest_labels=${ARG_LABEL}:${labels}"
      COMMENT "Labels of ${target}'s tests"
      VERBATIM)
    set(include "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels_include.cmake")
    file(WRITE "${include}" "if(EXISTS \"${labels}\")\n  include(\"${labels}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include}")
  endif()
  if(ARG_FIXTURES)
    set_property(GLOBAL APPEND PROPERTY SV_TESTS_OF_${ARG_LABEL} make_test_media)
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_fixtures.cmake")
    file(WRITE "${script}"
      "foreach(t IN LISTS ${target}_list)\n"
      "  set_tests_properties(\"\${t}\" PROPERTIES FIXTURES_REQUIRED sv_test_media)\n"
      "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()

# sv_tests(<target> LABEL <label> [FIXTURES] [DEPS <targets>...] [EXCLUDE_DIRS <subfolders>...])
# Builds the folder's *Test.cpp files (except those under EXCLUDE_DIRS) into one program with
# the shared test main and registers each test with ctest (see sv_discover_tests).
function(sv_tests target)
  cmake_parse_arguments(ARG "FIXTURES" "LABEL" "DEPS;EXCLUDE_DIRS" ${ARGN})
  file(GLOB_RECURSE tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  sv_exclude_dirs(tests ${ARG_EXCLUDE_DIRS})
  if(NOT tests)
    return()
  endif()
  add_executable(${target} ${tests})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} test_main)
  if(ARG_FIXTURES)
    sv_discover_tests(${target} LABEL ${ARG_LABEL} FIXTURES)
  else()
    sv_discover_tests(${target} LABEL ${ARG_LABEL})
  endif()
endfunction()

# sv_label_needs(<labels> <targets>...)
# A test added by hand (add_test) with the given labels runs the named targets: `tests-<label>`
# builds them too.
function(sv_label_needs labels)
  foreach(label ${labels})
    set_property(GLOBAL APPEND PROPERTY SV_TEST_LABELS ${label})
    set_property(GLOBAL APPEND PROPERTY SV_TESTS_OF_${label} ${ARGN})
  endforeach()
endfunction()

# sv_label_targets()
# After every folder: one build target per ctest label, `tests-<label>`, made of that label's
# test programs (whose add_dependencies bring the programs they run), and the list of labels in
# the build folder for scripts/test.
function(sv_label_targets)
  get_property(labels GLOBAL PROPERTY SV_TEST_LABELS)
  list(REMOVE_DUPLICATES labels)
  foreach(label ${labels})
    get_property(targets GLOBAL PROPERTY SV_TESTS_OF_${label})
    list(REMOVE_DUPLICATES targets)
    add_custom_target(tests-${label})
    add_dependencies(tests-${label} ${targets})
  endforeach()
  string(REPLACE ";" "\n" text "${labels}")
  file(WRITE "${CMAKE_BINARY_DIR}/test-labels.txt" "${text}\n")
endfunction()
