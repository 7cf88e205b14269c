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
