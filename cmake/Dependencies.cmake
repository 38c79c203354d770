# Third-party code, all from Debian packages. The native build uses the
# packages in /usr/include directly; the win32 build must not see glibc's
# headers, so it gets a folder of links to just the header-only packages.

find_package(Threads REQUIRED)

set(KESTREL_HEADER_PACKAGES asio asio.hpp websocketpp nlohmann spdlog fmt concurrentqueue)

add_library(kestrel_deps INTERFACE)
target_compile_definitions(kestrel_deps INTERFACE
  ASIO_STANDALONE _WEBSOCKETPP_CPP11_STL_ _WEBSOCKETPP_CPP11_THREAD_
  SPDLOG_FMT_EXTERNAL FMT_HEADER_ONLY)
target_link_libraries(kestrel_deps INTERFACE Threads::Threads)

if(KESTREL_PLATFORM STREQUAL "win32")
  set(_links ${CMAKE_BINARY_DIR}/third_party_include)
  file(MAKE_DIRECTORY ${_links})
  foreach(_pkg ${KESTREL_HEADER_PACKAGES})
    if(NOT EXISTS ${_links}/${_pkg})
      file(CREATE_LINK /usr/include/${_pkg} ${_links}/${_pkg} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(kestrel_deps SYSTEM INTERFACE ${_links})
  # Windows 7 API level for asio; Unicode-neutral: we call the W/A functions by name.
  target_compile_definitions(kestrel_deps INTERFACE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX
    WIN32_LEAN_AND_MEAN)
  target_link_libraries(kestrel_deps INTERFACE ws2_32 mswsock)
  find_library(KESTREL_ZLIB NAMES libz.a REQUIRED)
  add_library(kestrel_zlib INTERFACE)
  target_link_libraries(kestrel_zlib INTERFACE ${KESTREL_ZLIB})
else()
  find_package(ZLIB REQUIRED)
  add_library(kestrel_zlib INTERFACE)
  target_link_libraries(kestrel_zlib INTERFACE ZLIB::ZLIB)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
  find_package(CURL REQUIRED)
endif()

# Compile options for the tests' own code (test programs and GoogleTest), put
# after the build type's: the libraries under test stay built as they ship.
# The win32 preset gives -O1, which MinGW compiles in two thirds of the time
# of -O2; most of that build is test code.
set(KESTREL_TEST_CODE_OPTIONS "" CACHE STRING "Compile options of the test programs' own sources")

if(KESTREL_BUILD_TESTS)
  if(KESTREL_PLATFORM STREQUAL "win32")
    # GoogleTest from its Debian source package, built with the cross compiler.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    # The googletest project defines the GTest:: aliases itself.
    foreach(_gtest_target gtest gtest_main gmock gmock_main)
      target_compile_options(${_gtest_target} PRIVATE ${KESTREL_TEST_CODE_OPTIONS})
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
