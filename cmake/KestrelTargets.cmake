# Helpers shared by every subsystem's CMakeLists.txt.

# The version header: one generated file that every target may include as
# "Version.h".
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${PROJECT_BINARY_DIR}/generated/Version.h @ONLY)

# Common warnings and settings for the project's own targets. Third-party
# headers come in as SYSTEM includes, so these apply to our code only; the CI
# presets turn them into errors.
option(KESTREL_WARNINGS_AS_ERRORS "Fail the build on a warning in our own code" OFF)
function(kestrel_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter -Wshadow -Wnon-virtual-dtor
    -Woverloaded-virtual)
  if(KESTREL_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/generated)
  target_link_libraries(${target} PUBLIC kestrel_deps)
endfunction()

# kestrel_add_library(<name> SOURCES ... [LIBS ...]): one static library per subsystem.
function(kestrel_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  kestrel_target_defaults(${name})
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

# kestrel_add_test(<name> SOURCES ... [LIBS ...] [NO_MAIN] [TIMEOUT s]): one GoogleTest
# executable registered as one CTest test. Under the win32 preset CTest runs it
# through the Wine emulator. Tests run in the output folder beside the images.
function(kestrel_add_test name)
  cmake_parse_arguments(ARG "NO_MAIN" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kestrel_target_defaults(${name})
  target_compile_options(${name} PRIVATE ${KESTREL_TEST_CODE_OPTIONS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(ARG_NO_MAIN)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  endif()
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "KESTREL_TELEMETRY=off;KESTREL_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
