# TD32 debug information for our executables. The compiler writes DWARF; the
# crash facility reads TD32. td32conv (tools/) is built with the build
# machine's compiler as an external project and, in each link, converts the
# executable's DWARF and appends the TD32 block to it (optionally also writing
# it as a .tds file beside the executable).
include(ExternalProject)

option(QF_TD32 "Append TD32 debug information to every executable" ON)
option(QF_TD32_TDS "Also write a .tds file beside every executable" OFF)

set(QF_TD32CONV ${CMAKE_BINARY_DIR}/host-tools/td32conv)
ExternalProject_Add(td32conv_host
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools
  BINARY_DIR ${CMAKE_BINARY_DIR}/host-tools
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${QF_TD32CONV})

# Converts `target` as part of each link: the link runs through a launcher
# that calls the converter on the linked file. (A launcher works for targets
# of any folder, where a POST_BUILD command must sit beside its target.)
function(qf_td32 target)
  if(NOT QF_TD32)
    return()
  endif()
  add_dependencies(${target} td32conv_host)
  # Source paths are recorded relative to the source root.
  set(launcher "sh ${CMAKE_SOURCE_DIR}/cmake/td32-link.sh ${QF_TD32CONV} --source-root ${CMAKE_SOURCE_DIR}")
  if(QF_TD32_TDS)
    string(APPEND launcher " --tds")
  endif()
  set_property(TARGET ${target} PROPERTY RULE_LAUNCH_LINK "${launcher}")
endfunction()

# Every executable defined in the project's own folders.
function(qf_td32_all_executables)
  qf_project_executables(targets)
  foreach(t ${targets})
    qf_td32(${t})
  endforeach()
endfunction()
