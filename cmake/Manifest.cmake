# Every executable carries an application manifest (cmake/manifests/): the
# Windows versions it was made for, 7 to 11 (without them Windows 8.1 and
# later answer the version query as 6.2 build 9200), common controls
# version 6, and for GUI programs per-monitor DPI awareness.
set(QF_MANIFEST_DIR ${CMAKE_BINARY_DIR}/manifests)

function(qf_manifest_configure kind settings)
  set(QF_MANIFEST_NAME ${kind})
  set(QF_MANIFEST_SETTINGS "${settings}")
  set(QF_MANIFEST_FILE ${QF_MANIFEST_DIR}/${kind}.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/manifests/app.manifest.in ${QF_MANIFEST_FILE} @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/manifests/manifest.rc.in ${QF_MANIFEST_DIR}/${kind}.rc @ONLY)
endfunction()

qf_manifest_configure(console "")
qf_manifest_configure(gui [=[
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm</dpiAware>
      <dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, PerMonitor</dpiAwareness>
    </windowsSettings>
  </application>
]=])

# The manifest of `target`: the GUI one for WIN32 executables.
function(qf_manifest target)
  get_target_property(gui ${target} WIN32_EXECUTABLE)
  set(kind console)
  if(gui)
    set(kind gui)
  endif()
  set(rc ${QF_MANIFEST_DIR}/${kind}.rc)
  target_sources(${target} PRIVATE ${rc})
  # The resource compiler does not see the file the script names.
  set_source_files_properties(${rc} TARGET_DIRECTORY ${target}
    PROPERTIES OBJECT_DEPENDS ${QF_MANIFEST_DIR}/${kind}.manifest)
  set_property(GLOBAL APPEND PROPERTY QF_MANIFEST_LIST "${kind} $<TARGET_FILE:${target}>")
endfunction()

# Every executable of the project, and the list of them with their kinds
# (build folder, executables.txt) for the test that reads their resources.
function(qf_manifest_all_executables)
  qf_project_executables(targets)
  foreach(t ${targets})
    qf_manifest(${t})
  endforeach()
  get_property(lines GLOBAL PROPERTY QF_MANIFEST_LIST)
  list(JOIN lines "\n" content)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/executables.txt CONTENT "${content}\n")
endfunction()
