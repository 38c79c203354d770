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
  target_include_directories(${target} PUBLIC ${PROJECT_BINARY_DIR}/generated)
  target_link_libraries(${target} PUBLIC kestrel_deps)
endfunction()

# Headers are included with their folder's name ("host/ESDConnectionManager.h"),
# but there is no include directory above all folders: each folder gets an
# include root of its own in the build tree that holds only a link to the
# folder. kestrel_folder_headers(<target> PUBLIC|PRIVATE) adds the current
# folder's root, so a target sees its own headers and those of the libraries
# it links, and an include from a library it does not link (a layer above)
# fails to compile.
function(kestrel_folder_headers target scope)
  kestrel_folder_include_root(root ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(${target} ${scope} ${root})
endfunction()

# kestrel_folder_include_root(<variable> <folder>): the include root of <folder>,
# made on first use.
function(kestrel_folder_include_root variable folder)
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${folder})
  string(REPLACE "/" "-" root_name ${relative})
  get_filename_component(name ${folder} NAME)
  set(root ${PROJECT_BINARY_DIR}/include/${root_name})
  set(link ${root}/${name})
  set(current "")
  if(IS_SYMLINK ${link})
    file(READ_SYMLINK ${link} current)
  endif()
  if(NOT "${current}" STREQUAL "${folder}")
    file(REMOVE ${link})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${folder} ${link} SYMBOLIC)
  endif()
  set(${variable} ${root} PARENT_SCOPE)
endfunction()

# kestrel_add_library(<name> SOURCES ... [LIBS ...]): one static library per
# folder, whose headers its users include as "<folder>/<Header>.h".
function(kestrel_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  kestrel_target_defaults(${name})
  kestrel_folder_headers(${name} PUBLIC)
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

# kestrel_add_test(<name> SOURCES ... [LIBS ...] [NO_MAIN] [ONE_UNIT] [TIMEOUT s]): one
# GoogleTest executable registered as one CTest test. Under the win32 preset CTest
# runs it through the Wine emulator. Tests run in the output folder beside the
# images. A test sees the headers of its own folder and of the libraries it links.
# ONE_UNIT compiles its sources as one translation unit (a source with the
# SKIP_UNITY_BUILD_INCLUSION property apart): the JSON and GoogleTest templates
# they share are then compiled once instead of once per file, a third of the
# program's compile time. Their names at file scope must differ.
function(kestrel_add_test name)
  cmake_parse_arguments(ARG "NO_MAIN;ONE_UNIT" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_ONE_UNIT)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
  endif()
  kestrel_target_defaults(${name})
  target_compile_options(${name} PRIVATE ${KESTREL_TEST_CODE_OPTIONS})
  kestrel_folder_headers(${name} PRIVATE)
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
