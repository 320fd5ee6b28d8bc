# kx4_add_module(<name> [EXCLUDE_FROM_ALL] <sources>...)
#
# A module DLL built from the SDK alone: <name>.dll (no "lib" prefix) beside
# kx4.exe, where System.loadModule finds it by name; linked statically, so it
# imports system DLLs only; and checked by the test <name>.exports to export
# initModule and nothing else. EXCLUDE_FROM_ALL (benchmark modules) builds it
# only on request, and then it has no test.
function(kx4_add_module name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "EXCLUDE_FROM_ALL" "" "")
  add_library(${name} MODULE ${arg_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  set_target_properties(${name} PROPERTIES PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  target_link_options(${name} PRIVATE -static)
  if(arg_EXCLUDE_FROM_ALL)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
  else()
    add_test(NAME ${name}.exports
      COMMAND ${PROJECT_SOURCE_DIR}/cmake/check_exports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:${name}>)
  endif()
endfunction()
