# Windows resources of kx4.exe: the manifest and four icon groups.
#
#   include(platforms/win32/resources/resources.cmake)
#   kx4_add_host_resources(<target>)
#
# The icons are drawn by make_icons.py at build time into
# <current binary dir>/<target>_resources, so no binary file is committed.
# KX4_RESOURCES_CHECKER names the script that checks a built executable.

include_guard(GLOBAL)

set(KX4_RESOURCES_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(KX4_RESOURCES_CHECKER "${CMAKE_CURRENT_LIST_DIR}/check_resources.py")

function(kx4_add_host_resources target)
  if(NOT CMAKE_RC_COMPILER)
    message(FATAL_ERROR "kx4_add_host_resources: enable_language(RC) first")
  endif()
  if(NOT Python3_EXECUTABLE)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
  endif()

  set(src "${KX4_RESOURCES_DIR}")
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources")
  set(icons
    "${out}/kx4.ico"
    "${out}/kx4-large.ico"
    "${out}/kx4-running.ico"
    "${out}/kx4-warning.ico")

  add_custom_command(
    OUTPUT ${icons}
    COMMAND "${Python3_EXECUTABLE}" "${src}/make_icons.py" "${out}"
    DEPENDS "${src}/make_icons.py"
    COMMENT "Drawing the icons of ${target}"
    VERBATIM)
  set_source_files_properties(${icons} PROPERTIES
    GENERATED TRUE HEADER_FILE_ONLY TRUE)

  # windres looks for the files that kx4.rc names in its include
  # directories: the generated icons first, then the manifest beside the
  # .rc. It reports no dependencies of its own, hence OBJECT_DEPENDS.
  set_source_files_properties("${src}/kx4.rc" PROPERTIES
    INCLUDE_DIRECTORIES "${out};${src}"
    OBJECT_DEPENDS "${icons};${src}/kx4.exe.manifest")

  target_sources(${target} PRIVATE "${src}/kx4.rc" ${icons})
endfunction()
