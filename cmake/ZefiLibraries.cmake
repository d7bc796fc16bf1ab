# How the libraries zefi_formula, zefi_negation and zefi_aiger are built: static or shared
# as BUILD_SHARED_LIBS says (static by default), and under which names clients see them.
# zefi_app, the part of the tools that is no library for others, always stays static.
include(GNUInstallDirs)

option(BUILD_SHARED_LIBS "Build zefi_formula, zefi_negation and zefi_aiger as shared libraries" OFF)

if(BUILD_SHARED_LIBS)
  # Every object may end up in a shared library, zefi_app's included (it is linked against
  # them); the installed tools find the installed libraries beside them, wherever the tree
  # was installed or unpacked.
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
endif()

# The version a shared library's name carries: before 1.0 each minor version may change the
# interface, so both numbers are part of it (libzefi_formula.so.0.1).
set(ZEFI_SOVERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")

# Called by each library's CMakeLists.txt: the name it is exported under (zefi::<name>) and
# the version of its shared object.
function(zefi_library_properties target name)
  set_target_properties(${target} PROPERTIES
    EXPORT_NAME ${name}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${ZEFI_SOVERSION})
  # The headers need C++20 (std::span, concepts of the standard library), in clients too.
  target_compile_features(${target} PUBLIC cxx_std_20)
  add_library(zefi::${name} ALIAS ${target})
endfunction()
