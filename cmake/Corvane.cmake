# corvane_library(<folder-name> DEPS <targets...>)
# One static library per source folder, built from every .cpp in that folder, so that
# adding a file to a folder needs no CMake change.
function(corvane_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  file(GLOB headers CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  add_library(corvane_${name} STATIC ${sources} ${headers})
  target_include_directories(corvane_${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(corvane_${name} PUBLIC ${ARG_DEPS})
endfunction()

# corvane_test(<folder-name> [OWN_MAIN] DEPS <targets...> [LABELS <labels...>] [ENVIRONMENT <var=value>]
#              [FIXTURES <ctest fixtures>])
# One GoogleTest executable per tested folder, made of every .cpp in the test folder.
function(corvane_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "DEPS;LABELS;ENVIRONMENT;FIXTURES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_executable(corvane_${name}_tests ${sources})
  target_link_libraries(corvane_${name}_tests PRIVATE ${ARG_DEPS} corvane_testsupport GTest::gtest GTest::gmock)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(corvane_${name}_tests PRIVATE GTest::gtest_main)
  endif()
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  set(props LABELS "${ARG_LABELS}" TIMEOUT 300)
  if(ARG_ENVIRONMENT)
    list(APPEND props ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  if(ARG_FIXTURES)
    list(APPEND props FIXTURES_REQUIRED "${ARG_FIXTURES}")
  endif()
  gtest_discover_tests(corvane_${name}_tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()
