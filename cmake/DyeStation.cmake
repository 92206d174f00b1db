# Shared build helpers: warnings per target, the sanitizer switch, and one-line tests.

function(ds_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wnon-virtual-dtor -Woverloaded-virtual)
  if(DS_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# ds_library(name SOURCES ... LIBS ...): a static library of the project.
function(ds_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  ds_warnings(${name})
endfunction()

# ds_test(name SOURCES ... LIBS ... [TIMEOUT s]): a QtTest executable run by ctest.
function(ds_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} ds_testsupport Qt6::Test)
  ds_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  set(env "QT_QPA_PLATFORM=offscreen;DS_BUILD_DIR=${CMAKE_BINARY_DIR};DS_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
