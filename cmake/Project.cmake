# Common compile options, the platform-free library rule and test helpers.

add_library(project_options INTERFACE)
target_compile_options(project_options INTERFACE
  -Wall -Wextra -Wnon-virtual-dtor -Wno-unknown-pragmas)
# GCC's local shadowing check; clang (the fuzzing build) names it otherwise.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(project_options INTERFACE -Wshadow-uncaptured-local)
else()
  target_compile_options(project_options INTERFACE -Wshadow=local)
endif()
target_include_directories(project_options INTERFACE ${PROJECT_SOURCE_DIR})
# No pointer, handle or window datum may pass through a narrower integer: in a
# 64-bit build such a cast fails (C++ refuses pointer-to-smaller-int itself).
target_compile_options(project_options INTERFACE -Werror=int-to-pointer-cast
  $<$<COMPILE_LANGUAGE:C>:-Werror=pointer-to-int-cast>)

if(WIN32)
  target_compile_options(project_options INTERFACE -msse2 -mfpmath=sse)
  target_compile_definitions(project_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600 WINVER=0x0600)
  # Everything a DLL or program needs is inside it: no libgcc, libstdc++ or
  # winpthread DLLs beside our binaries.
  target_link_options(project_options INTERFACE -static -static-libgcc -static-libstdc++)
elseif(SANITIZE)
  target_compile_options(project_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()
# The fuzzing build (clang): every library carries libFuzzer's coverage
# instrumentation; the targets in tests/fuzz link libFuzzer's main.
if(FUZZ AND NOT WIN32)
  target_compile_options(project_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# A static library with no platform dependency. In the win32 build a poisoned
# windows.h (and friends) sits first on its include path, so including the
# platform from such a library fails the build; natively there is none at all.
function(add_platform_free_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} BEFORE PRIVATE ${PROJECT_SOURCE_DIR}/cmake/poison)
  target_link_libraries(${name} PUBLIC project_options)
endfunction()

# A GoogleTest program registered with CTest; under the win32 preset CTest runs
# it through Wine (the toolchain's emulator).
#   add_project_test(NAME name SOURCES ... [LIBS ...] [LABELS ...])
function(add_project_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE project_options ${T_LIBS} gtest gmock gtest_main)
  # Under Wine a report path needs the drive that maps the host's root.
  set(report ${CMAKE_BINARY_DIR}/test-results/${T_NAME}.xml)
  if(WIN32)
    set(report Z:${report})
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1 --gtest_output=xml:${report})
  if(WIN32)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "wine;${T_LABELS}")
  else()
    set_tests_properties(${T_NAME} PROPERTIES LABELS "native;${T_LABELS}")
  endif()
endfunction()

# A COM/DirectShow DLL of ours: no "lib" prefix, exports from a .def file.
function(add_com_dll name def)
  add_library(${name} SHARED ${ARGN} ${def})
  set_target_properties(${name} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  target_link_libraries(${name} PRIVATE project_options)
endfunction()
