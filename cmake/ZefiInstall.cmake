# What `cmake --install` puts where, for a prefix P:
#   P/bin/zefi, P/bin/zefi-aiger, P/share/man/man1/zefi.1, zefi-aiger.1   (component tools)
#   the libraries in P/lib (P/lib/<multiarch> when the prefix is /usr), their headers in
#   P/include/zefi/{formula,negation,aiger}/, the CMake package in P/lib/cmake/zefi/ and
#   P/lib/pkgconfig/zefi.pc                                                  (component development)
# A shared build puts the libraries' runtime files in the tools component: the tools need them.
include(CMakePackageConfigHelpers)

set(ZEFI_LIBRARIES zefi_formula zefi_negation zefi_aiger)
set(ZEFI_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zefi)

install(TARGETS zefi zefi-aiger RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(FILES man/zefi.1 man/zefi-aiger.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

# The headers go below include/zefi, and that is the include directory clients get: they
# write "formula/formula.hpp" and "aiger/aiger.hpp" as zefi's own sources do, and nothing
# lands in generic top-level folders such as include/aiger that other libraries may own.
install(TARGETS ${ZEFI_LIBRARIES} EXPORT zefiTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT tools NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zefi COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zefi)
install(EXPORT zefiTargets NAMESPACE zefi:: DESTINATION ${ZEFI_CMAKE_DIR} COMPONENT development)

# What a client of the static libraries must link besides them: the private dependencies of
# zefi_formula, zefi_negation and zefi_aiger (the decompression libraries the build found,
# for one). A shared library brings its own along. For each known dependency: the CMake
# package that defines its target, its pkg-config module or linker flag, and the Debian
# package a client then needs.
set(ZEFI_FIND_DEPENDENCIES "")
set(ZEFI_PC_REQUIRES "")
set(ZEFI_PC_LIBS "")
set(ZEFI_DEB_DEVELOPMENT_DEPENDS "")
if(NOT BUILD_SHARED_LIBS)
  set(dependencies "")
  foreach(library IN LISTS ZEFI_LIBRARIES)
    get_target_property(linked ${library} LINK_LIBRARIES)
    if(linked)
      list(APPEND dependencies ${linked})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES dependencies)
  if(dependencies)
    list(REMOVE_ITEM dependencies ${ZEFI_LIBRARIES})
  endif()
  foreach(dependency IN LISTS dependencies)
    set(package "")
    set(module "")
    set(flag "")
    set(debian "")
    set(extra "")
    if(dependency STREQUAL "ZLIB::ZLIB")
      set(package ZLIB)
      set(module zlib)
      set(debian zlib1g-dev)
    elseif(dependency STREQUAL "LibLZMA::LibLZMA")
      set(package LibLZMA)
      set(module liblzma)
      set(debian liblzma-dev)
    elseif(dependency STREQUAL "BZip2::BZip2")
      set(package BZip2)
      set(flag -lbz2)  # libbz2 has no pkg-config module on Debian
      set(debian libbz2-dev)
    elseif(dependency MATCHES "^zstd::libzstd_(shared|static)$")
      set(package zstd)
      set(module libzstd)
      set(debian libzstd-dev)
    elseif(dependency STREQUAL "PkgConfig::ZSTD")  # where zstd has no CMake package
      set(package PkgConfig)
      set(extra "pkg_check_modules(ZSTD REQUIRED QUIET IMPORTED_TARGET libzstd)\n")
      set(module libzstd)
      set(debian libzstd-dev)
    elseif(dependency STREQUAL "Threads::Threads")
      set(package Threads)
      set(flag -pthread)
    elseif(NOT TARGET "${dependency}" AND NOT dependency MATCHES "[$<>:]")
      # A plain library name or path: the exported targets carry it as it is.
      if(IS_ABSOLUTE "${dependency}")
        set(flag "${dependency}")
      else()
        set(flag "-l${dependency}")
      endif()
    else()
      message(WARNING "zefi's installed CMake package and zefi.pc do not know how a client "
                      "finds the dependency ${dependency}: teach cmake/ZefiInstall.cmake.")
    endif()
    if(package)
      string(APPEND ZEFI_FIND_DEPENDENCIES "find_dependency(${package})\n${extra}")
    endif()
    if(module)
      list(APPEND ZEFI_PC_REQUIRES ${module})
    endif()
    if(flag)
      list(APPEND ZEFI_PC_LIBS ${flag})
    endif()
    if(debian)
      list(APPEND ZEFI_DEB_DEVELOPMENT_DEPENDS ${debian})
    endif()
  endforeach()
  string(REPLACE ";" " " ZEFI_PC_REQUIRES "${ZEFI_PC_REQUIRES}")
  string(REPLACE ";" " " ZEFI_PC_LIBS "${ZEFI_PC_LIBS}")
endif()

configure_package_config_file(cmake/zefiConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/zefiConfig.cmake INSTALL_DESTINATION ${ZEFI_CMAKE_DIR})
# Before 1.0 a new minor version may change the interface: only the same minor one fits.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zefiConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zefiConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/zefiConfigVersion.cmake
        DESTINATION ${ZEFI_CMAKE_DIR} COMPONENT development)

# zefi.pc finds the prefix from its own place (${pcfiledir}), so the tree works wherever it
# was installed (cmake --install --prefix) or unpacked. The static libraries' dependencies
# stand in Requires and Libs, not in the .private fields: with no shared zefi beside them,
# every link needs them, also one without --static.
file(RELATIVE_PATH ZEFI_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" ZEFI_PC_TO_PREFIX "${ZEFI_PC_TO_PREFIX}")
configure_file(cmake/zefi.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zefi.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zefi.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

include(cmake/ZefiPackage.cmake)
