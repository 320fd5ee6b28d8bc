# Imported targets for the third-party libraries that tools/deps.sh builds
# into its cache (versions: tools/deps.versions). A module links one with one
# line, e.g. target_link_libraries(kx4net PRIVATE kx4::openssl); the target
# brings its include directories and the system libraries it needs.
#
#   kx4::png        libpng 1.6 with Debian's static zlib
#   kx4::openssl    libssl + libcrypto (kx4::crypto alone for hashing only)
#   kx4::sqlite     the SQLite amalgamation, thread-safe
#   kx4::netsnmp    the Net-SNMP client library
#   kx4::usb        libusb-1.0 as its own DLL (what the release ships, LGPL)
#   kx4::usb_static libusb-1.0 linked in
#
# tools/build.sh runs tools/deps.sh before configuring, so every library is
# in the cache; configuring without them stops with a message saying so.
set(KX4_DEPS_DIR "/var/cache/kx4-deps" CACHE PATH "Cache of third-party libraries built by tools/deps.sh")

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_kx4_arch x64)
else()
  set(_kx4_arch x86)
endif()

# <name>_DIR: the cache entry of each library, keyed as tools/deps.sh keys it
# (the Debian version without its epoch).
file(STRINGS ${PROJECT_SOURCE_DIR}/tools/deps.versions _kx4_lines REGEX "^[a-z]")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/deps.versions)
set(KX4_THIRDPARTY_MISSING "")
foreach(_line IN LISTS _kx4_lines)
  string(REGEX REPLACE "[ \t]+" ";" _fields "${_line}")
  list(GET _fields 0 _name)
  list(GET _fields 2 _version)
  string(REGEX REPLACE "^[0-9]+:" "" _version "${_version}")
  set(_dir ${KX4_DEPS_DIR}/${_name}-${_version}-${_kx4_arch})
  set(_kx4_${_name} ${_dir})
  if(NOT EXISTS ${_dir}/.kx4-stamp)
    list(APPEND KX4_THIRDPARTY_MISSING ${_name})
  endif()
endforeach()
if(KX4_THIRDPARTY_MISSING)
  message(FATAL_ERROR "Third-party libraries not built for ${_kx4_arch} in ${KX4_DEPS_DIR}: "
                      "${KX4_THIRDPARTY_MISSING} (tools/build.sh builds them with tools/deps.sh ${_kx4_arch})")
endif()

# kx4_static_import(target dir library [system libraries...])
function(kx4_static_import target dir library)
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${dir}/lib/${library}
    INTERFACE_INCLUDE_DIRECTORIES ${dir}/include
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()

find_library(KX4_ZLIB NAMES libz.a REQUIRED)
kx4_static_import(kx4::png ${_kx4_libpng} libpng16.a ${KX4_ZLIB})

kx4_static_import(kx4::crypto ${_kx4_openssl} libcrypto.a ws2_32 gdi32 crypt32 advapi32 user32)
kx4_static_import(kx4::openssl ${_kx4_openssl} libssl.a kx4::crypto)

kx4_static_import(kx4::sqlite ${_kx4_sqlite} libsqlite3.a)

kx4_static_import(kx4::netsnmp ${_kx4_netsnmp} libnetsnmp.a ws2_32 iphlpapi advapi32)

kx4_static_import(kx4::usb_static ${_kx4_libusb} libusb-1.0.a)
set_property(TARGET kx4::usb_static APPEND PROPERTY INTERFACE_INCLUDE_DIRECTORIES ${_kx4_libusb}/include/libusb-1.0)
add_library(kx4::usb SHARED IMPORTED GLOBAL)
set_target_properties(kx4::usb PROPERTIES
  IMPORTED_LOCATION ${_kx4_libusb}/bin/libusb-1.0.dll
  IMPORTED_IMPLIB ${_kx4_libusb}/lib/libusb-1.0.dll.a
  INTERFACE_INCLUDE_DIRECTORIES "${_kx4_libusb}/include;${_kx4_libusb}/include/libusb-1.0")

# kx4_copy_runtime_dlls(target): puts the DLLs of the imported targets that
# <target> links (kx4::usb) beside it, as the release does.
function(kx4_copy_runtime_dlls target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_RUNTIME_DLLS:${target}> $<TARGET_FILE_DIR:${target}>
    COMMAND_EXPAND_LISTS)
endfunction()
