# qf_add_test(name SOURCES a.cpp ... LIBS lib ... [OWN_MAIN] [NETWORK] [FIXTURES f ...] [TIMEOUT s])
# OWN_MAIN: the test brings its own main() (e.g. to act as a child process).
# NETWORK: the test talks to the local upload servers; it finds their
# addresses in servers\servers.txt beside it and runs alone.
# FIXTURES: further set-up steps it needs besides the Wine session.
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
qf_add_program(platform_check SOURCES ${CMAKE_SOURCE_DIR}/scripts/platform/platform_check.cpp LIBS env)
add_test(NAME platform_check
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/platform-check ${CMAKE_BINARY_DIR} $<TARGET_FILE:platform_check>)
set_tests_properties(platform_check PROPERTIES FIXTURES_SETUP wine DEPENDS wine_session_start TIMEOUT 90)

# Where the harness keeps the local servers' state and addresses.
set(QF_SERVERS_DIR ${CMAKE_BINARY_DIR}/tests/http/servers)

function(qf_add_test name)
  cmake_parse_arguments(T "OWN_MAIN;NETWORK" "TIMEOUT" "SOURCES;LIBS;FIXTURES" ${ARGN})
  if(T_OWN_MAIN)
    qf_add_program(${name} SOURCES ${T_SOURCES} LIBS ${T_LIBS} testutil gmock gtest)
  else()
    qf_add_program(${name} SOURCES ${T_SOURCES} LIBS ${T_LIBS} testutil gmock gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  set(fixtures wine ${T_FIXTURES})
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(T_NETWORK)
    list(APPEND fixtures http_servers)
    if(NOT "${CMAKE_CURRENT_BINARY_DIR}/servers" STREQUAL "${QF_SERVERS_DIR}")
      file(CREATE_LINK ${QF_SERVERS_DIR} ${CMAKE_CURRENT_BINARY_DIR}/servers SYMBOLIC)
    endif()
    set_tests_properties(${name} PROPERTIES RUN_SERIAL ON)
  endif()
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${fixtures}" TIMEOUT ${T_TIMEOUT})
endfunction()
