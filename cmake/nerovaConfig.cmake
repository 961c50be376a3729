# The nerova SDK for CMake projects:
#   find_package(nerova REQUIRED)       # CMAKE_PREFIX_PATH holds the installation directory
#   target_link_libraries(myhost PRIVATE nerova::nerova)
# nerova::nerova carries the header (nerova.h), libnerova.so and GLib, whose
# main loop a host runs (found through pkg-config as glib-2.0); nerova_HOME
# is the installation directory (conf/, data/, lang/, log/), which the
# library uses when the host runs from it or names it in NEROVA_HOME.
get_filename_component(_nerova_home "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT EXISTS "${_nerova_home}/libnerova.so")
  set(nerova_FOUND FALSE)
  set(nerova_NOT_FOUND_MESSAGE "libnerova.so is not in ${_nerova_home}")
  return()
endif()
include(CMakeFindDependencyMacro)
find_dependency(PkgConfig)
if(NOT TARGET PkgConfig::nerova_GLIB)
  pkg_check_modules(nerova_GLIB QUIET IMPORTED_TARGET GLOBAL glib-2.0)
endif()
if(NOT TARGET PkgConfig::nerova_GLIB)
  set(nerova_FOUND FALSE)
  set(nerova_NOT_FOUND_MESSAGE "GLib (pkg-config module glib-2.0, Debian package libglib2.0-dev) was not found")
  return()
endif()
if(NOT TARGET nerova::nerova)
  add_library(nerova::nerova SHARED IMPORTED)
  set_target_properties(nerova::nerova PROPERTIES
    IMPORTED_LOCATION "${_nerova_home}/libnerova.so"
    IMPORTED_SONAME "libnerova.so"
    INTERFACE_INCLUDE_DIRECTORIES "${_nerova_home}/include"
    INTERFACE_LINK_LIBRARIES PkgConfig::nerova_GLIB)
endif()
set(nerova_HOME "${_nerova_home}")
unset(_nerova_home)
