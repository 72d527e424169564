# Helpers shared by the folders: one library per folder made of its sources, and one test
# program per folder made of the *Test.cpp files that sit beside the code.

# sv_library(<target> [DEPS <targets>...] SOURCES <files>...)
# The folder's library, from the sources it lists (sv_check_sources finds a file left out).
function(sv_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "sv_library(${target}): no SOURCES")
  endif()
  add_library(${target} STATIC ${ARG_SOURCES})
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

# sv_run_serial(<target> <test>...)
# Tests of the program, named as ctest names them ("Suite.Test"), that ctest runs with no other
# test beside them: those that take a large share of the machine (a process grown toward a
# memory bound). Call after sv_discover_tests; a name the program does not have is reported
# when ctest reads the tests.
function(sv_run_serial target)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_serial.cmake")
  set(text "")
  foreach(test ${ARGN})
    # ctest reads the script without the project's policies: list(FIND), not IN_LIST.
    string(APPEND text
      "list(FIND ${target}_list \"${test}\" at)\n"
      "if(NOT at EQUAL -1)\n"
      "  set_tests_properties(\"${test}\" PROPERTIES RUN_SERIAL TRUE)\n"
      "elseif(${target}_list)\n"
      "  message(WARNING \"${target} has no test ${test} to run alone\")\n"
      "endif()\n")
  endforeach()
  file(WRITE "${script}" "${text}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

# sv_tests(<target> LABEL <label> [FIXTURES] [DEPS <targets>...] SOURCES <files>...)
# Builds the listed test files into one program with the shared test main and registers each
# test with ctest (see sv_discover_tests).
function(sv_tests target)
  cmake_parse_arguments(ARG "FIXTURES" "LABEL" "DEPS;SOURCES" ${ARGN})
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "sv_tests(${target}): no SOURCES")
  endif()
  add_executable(${target} ${ARG_SOURCES})
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

# Appends to `out_var` the absolute paths of the sources of every target defined in `dir` and
# the folders under it.
function(sv_sources_below dir out_var)
  set(found ${${out_var}})
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    if(sources)
      foreach(source ${sources})
        get_filename_component(path ${source} ABSOLUTE BASE_DIR ${source_dir})
        list(APPEND found ${path})
      endforeach()
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    sv_sources_below(${subdir} found)
  endforeach()
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()

# sv_source_not_built(<files>...)
# Files of the current folder that this configuration leaves out on purpose.
function(sv_source_not_built)
  foreach(source ${ARGN})
    get_filename_component(path ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    set_property(GLOBAL APPEND PROPERTY SV_SOURCES_NOT_BUILT ${path})
  endforeach()
endfunction()

# sv_check_sources(<folders>...)
# Sources are listed by hand, so a new file that nobody added to a list would silently not be
# built (or its tests not run): the configure step stops and names every .cpp under the given
# folders that no target takes.
function(sv_check_sources)
  set(built "")
  sv_sources_below(${CMAKE_SOURCE_DIR} built)
  # Sources a folder chose not to build here (a benchmark whose peer library is missing).
  get_property(skipped GLOBAL PROPERTY SV_SOURCES_NOT_BUILT)
  list(APPEND built ${skipped})
  set(missing "")
  foreach(folder ${ARGN})
    file(GLOB_RECURSE present ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    foreach(path ${present})
      if(NOT path IN_LIST built)
        file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${path})
        list(APPEND missing ${rel})
      endif()
    endforeach()
  endforeach()
  if(missing)
    string(REPLACE ";" "\n  " text "${missing}")
    message(FATAL_ERROR "Sources in no target (add them to their folder's CMakeLists.txt):\n  ${text}")
  endif()
endfunction()
