# qf_add_test(name SOURCES a.cpp ... LIBS lib ... [OWN_MAIN] [LABELS l ...] [TIMEOUT s])
# OWN_MAIN: the test brings its own main() (e.g. to act as a child process).
# TIMEOUT: about four times what the suite takes here (default 60 s), so that
# a hang fails that suite within minutes and never eats the whole run.
# One GoogleTest executable per subsystem, run under Wine by CTest. Every test
# shares the Wine session fixture, which starts the prefix's wineserver (and
# Xvfb when there is no display) once and stops both after the last test.
add_test(NAME wine_session_start COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session start ${CMAKE_BINARY_DIR})
add_test(NAME wine_session_stop COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session stop ${CMAKE_BINARY_DIR})
# Starting may have to create the prefix first (a minute under emulation).
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# The platform check (scripts/platform/platform_check.cpp): a fresh process
# that provokes each kind of fault and rewrites code that already ran. It is
# a set-up step of the same fixture, so when the machine cannot run 32-bit
# code faithfully no suite starts and the check says why.
add_executable(platform_check ${CMAKE_SOURCE_DIR}/scripts/platform/platform_check.cpp)
target_link_libraries(platform_check PRIVATE env)
target_include_directories(platform_check PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_options(platform_check PRIVATE -mconsole)
add_test(NAME platform_check
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/platform-check ${CMAKE_BINARY_DIR} $<TARGET_FILE:platform_check>)
set_tests_properties(platform_check PROPERTIES FIXTURES_SETUP wine DEPENDS wine_session_start TIMEOUT 90)

function(qf_add_test name)
  cmake_parse_arguments(T "OWN_MAIN" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_OWN_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} testutil gmock gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} testutil gmock gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_options(${name} PRIVATE -mconsole)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
