# Debian packages, made by `cpack -G DEB` in a build directory:
#   zefi_<version>_<arch>.deb         the tools and their manual pages (component tools)
#   libzefi-dev_<version>_<arch>.deb  libraries, headers, CMake package, zefi.pc (development)
# The tools' library dependencies are read off the binaries by dpkg-shlibdeps (dpkg-dev).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zefi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's summary is the first line of its component's description below; an empty
# common summary keeps CPack from putting the project's description in front of both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_CONTACT "zefi developers <zefi@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zefi)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION science)
# zefi-aiger reads and writes .gz AIGER files through the gzip program.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS gzip)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "${PROJECT_DESCRIPTION}
zefi negates a formula in QDIMACS form: every quantifier exchanged and the matrix \
replaced by a Tseitin-style encoding of its negation, built as an And-Inverter Graph. \
zefi-aiger converts, checks and draws AIGER files and writes the graph that negating \
a formula builds.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzefi-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
string(REPLACE ";" ", " CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${ZEFI_DEB_DEVELOPMENT_DEPENDS}")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "Libraries and headers of zefi: QDIMACS, And-Inverter Graphs, AIGER
The QDIMACS reader and writer, the construction of a formula's negation as an \
And-Inverter Graph, and the graph store with its AIGER reader and writer, with a \
CMake package (find_package(zefi)) and a pkg-config file (zefi.pc).")

include(CPack)
cpack_add_component(tools DISPLAY_NAME "zefi and zefi-aiger")
if(BUILD_SHARED_LIBS)
  # The shared libraries travel with the tools, which need them; the package declares them
  # (shlibs) and has ldconfig run.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_GENERATE_SHLIBS ON)
  cpack_add_component(development DISPLAY_NAME "zefi libraries and headers" DEPENDS tools)
else()
  cpack_add_component(development DISPLAY_NAME "zefi libraries and headers")
endif()
