# Shared helpers for the project's targets.

# Internal headers of the codec library, for the library itself and for the
# tests that exercise its inner functions.
add_library(mirlane_internal INTERFACE)
file(GLOB_RECURSE _zef_sdk_dirs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sdk/*)
set(_zef_internal_dirs ${CMAKE_SOURCE_DIR}/sdk/include)
foreach(_d ${_zef_sdk_dirs})
  if(IS_DIRECTORY ${_d})
    list(APPEND _zef_internal_dirs ${_d})
  endif()
endforeach()
target_include_directories(mirlane_internal INTERFACE ${_zef_internal_dirs})

# add_subdirectory for every child folder of DIR that has a CMakeLists.txt,
# so that independent parts can be added without touching a shared list.
function(zef_add_children dir)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_BINARY_DIR}/${dir})
    return()
  endif()
  file(GLOB _children LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*)
  foreach(_c ${_children})
    if(IS_DIRECTORY ${_c} AND EXISTS ${_c}/CMakeLists.txt)
      file(RELATIVE_PATH _rel ${CMAKE_SOURCE_DIR} ${_c})
      add_subdirectory(${_c} ${CMAKE_BINARY_DIR}/${_rel})
    endif()
  endforeach()
endfunction()

find_package(GTest REQUIRED)

# zef_add_gtest(NAME SOURCES... [LABELS l...] [LIBS l...])
# One test executable per unit; label "lib" marks the codec library's tests,
# which the test command also runs under the sanitizers.
function(zef_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LABELS;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE mirlane mirlane_internal zeftestsupport GTest::gtest GTest::gtest_main ${T_LIBS})
  target_compile_definitions(${name} PRIVATE
      ZEF_SOURCE_DIR="${CMAKE_SOURCE_DIR}" ZEF_BINARY_DIR="${CMAKE_BINARY_DIR}"
      ZEF_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
  add_test(NAME ${name} COMMAND ${name})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
