# The engine: Debian's Duktape amalgamation, copied into the build tree with
# a duk_config.h that includes our overrides at its marker line (its options
# are #undef'd inside, so -D on the command line cannot set them). The three
# files must sit together: duk_config.h is looked up next to duktape.c.
set(KX4_DUKTAPE_SOURCE_DIR /usr/share/duktape CACHE PATH "Duktape amalgamation (Debian's duktape-dev)")
set(KX4_DUKTAPE_DIR ${CMAKE_BINARY_DIR}/duktape)

foreach(f duktape.c duktape.h duk_config.h)
  if(NOT EXISTS ${KX4_DUKTAPE_SOURCE_DIR}/${f})
    message(FATAL_ERROR "${KX4_DUKTAPE_SOURCE_DIR}/${f} missing: install duktape-dev")
  endif()
endforeach()
configure_file(${KX4_DUKTAPE_SOURCE_DIR}/duktape.c ${KX4_DUKTAPE_DIR}/duktape.c COPYONLY)
configure_file(${KX4_DUKTAPE_SOURCE_DIR}/duktape.h ${KX4_DUKTAPE_DIR}/duktape.h COPYONLY)

file(READ ${KX4_DUKTAPE_SOURCE_DIR}/duk_config.h _duk_config)
set(_marker "/* __OVERRIDE_DEFINES__ */")
string(FIND "${_duk_config}" "${_marker}" _at)
if(_at EQUAL -1)
  message(FATAL_ERROR "duk_config.h has no override marker")
endif()
string(REPLACE "${_marker}" "#include \"${PROJECT_SOURCE_DIR}/host/engine/duk_config_overrides.h\""
       _duk_config "${_duk_config}")
file(CONFIGURE OUTPUT ${KX4_DUKTAPE_DIR}/duk_config.h CONTENT "${_duk_config}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${KX4_DUKTAPE_SOURCE_DIR}/duk_config.h ${PROJECT_SOURCE_DIR}/host/engine/duk_config_overrides.h)

add_library(kx4duktape STATIC ${PROJECT_SOURCE_DIR}/host/engine/duktape_unit.c)
target_include_directories(kx4duktape PUBLIC ${KX4_DUKTAPE_DIR} ${PROJECT_SOURCE_DIR}/host/engine)
set_target_properties(kx4duktape PROPERTIES C_STANDARD 99)
target_compile_options(kx4duktape PRIVATE -O2 -w)
