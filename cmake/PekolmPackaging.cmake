# Debian packages from the install components, named as the system's own libraries are: libpekolm1 (the
# library, by its SONAME), libpekolm-dev (header, link, CMake and pkg-config files, pekolm(3)) and
# pekolm-tools (the programs and their pages). `cpack -G DEB` in the build directory makes all three.
# Configure such a build with -DCMAKE_INSTALL_PREFIX=/usr: the library directory is chosen then, and only
# for /usr does it follow Debian's multiarch layout (lib/<triplet>); the packages install under /usr.
set(CPACK_PACKAGE_NAME pekolm)
set(CPACK_PACKAGE_VENDOR "the pekolm developers")
set(CPACK_PACKAGE_CONTACT "the pekolm developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Four-channel measuring amplifiers on serial ports")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libpekolm1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libpekolm-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME pekolm-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)

# The system libraries come from dpkg-shlibdeps. It finds libpekolm.so.1, which no installed package holds
# yet, in the build tree; the dependency on libpekolm1 comes from the components' own (exact version, as
# the development files name the library's file).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# libpekolm1's shlibs file, so that other packages built against it depend on this version or later.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

include(CPack)

# No semicolons in the descriptions: CMake would take them for list separators and cut the text there.

cpack_add_component(runtime DISPLAY_NAME "pekolm library"
  DESCRIPTION "Shared library that drives four-channel measuring amplifiers (strain-gauge bridge, voltage \
and temperature inputs) on serial ports, one receive thread per port.")
cpack_add_component(dev DISPLAY_NAME "pekolm development files" DEPENDS runtime
  DESCRIPTION "Header, CMake package (find_package(pekolm)), pkg-config file and pekolm(3) for programs on \
the pekolm library.")
cpack_add_component(tools DISPLAY_NAME "pekolm programs" DEPENDS runtime
  DESCRIPTION "kolmconsole, an interactive console for one amplifier, kolmsim, a simulated amplifier on a \
pseudo-terminal, kolmrec, a recorder of measured values into CSV, and kolmdemo, a short check of an amplifier.")
