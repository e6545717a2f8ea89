# Debian packages from the install components, named as the system's own libraries are: libpekolm1 (the
# library, by its SONAME), libpekolm-dev (header, link, CMake and pkg-config files, pekolm(3)) and
# pekolm-tools (the programs and their pages). `cpack -G DEB` in the build directory makes all three.
# Configure such a build with -DCMAKE_INSTALL_PREFIX=/usr: the library directory is chosen then, and only
# for /usr does it follow Debian's multiarch layout (lib/<triplet>); the packages install under /usr.
set(CPACK_PACKAGE_NAME pekolm)
set(CPACK_PACKAGE_VENDOR "the pekolm developers")
# The Maintainer field: a name and an address that reaches the developers.
set(CPACK_PACKAGE_CONTACT "pekolm developers <pekolm@example.org>")
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
set(PEKOLM_DEBIAN_PACKAGES libpekolm1 libpekolm-dev pekolm-tools)  # in the order of CPACK_COMPONENTS_ALL

# The system libraries come from dpkg-shlibdeps. It finds libpekolm.so.1, which no installed package holds
# yet, in the build tree; the dependency on libpekolm1 comes from the components' own (exact version, as
# the development files name the library's file).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# libpekolm1's control files: a shlibs file, which Debian's policy wants of every shared library, so that
# other packages built against it depend on this version or later, and (in cmake/debian/) a symbols file,
# which dpkg-shlibdeps takes first: a package built against the library depends on the release that
# brought the newest function it calls. Then the ldconfig trigger, which refreshes the linker cache once
# per dpkg run instead of a postinst and postrm of the package's own. CPack writes both scripts (calling
# ldconfig) for every library under /usr/lib unless the control files name a postinst and a postrm; the
# names given here lie nowhere, and CPack adds only the control files it finds (warning about the others),
# so that the package gets no maintainer scripts at all.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(PEKOLM_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/debian/symbols ${PROJECT_SOURCE_DIR}/cmake/debian/triggers
  ${PEKOLM_DEBIAN_DIR}/no-maintainer-scripts/postinst ${PEKOLM_DEBIAN_DIR}/no-maintainer-scripts/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

# No semicolons in the descriptions: CMake would take them for list separators and cut the text there.
# Each line becomes one line of the package's description, after a blank: Debian wants them no longer than
# 80 columns with it.

cpack_add_component(runtime DISPLAY_NAME "pekolm library"
  DESCRIPTION "Shared library that drives four-channel measuring amplifiers (strain-gauge
bridge, voltage and temperature inputs) on serial ports: one amplifier per
port, up to 255 ports at once, each with a receive thread that decodes the
measured values into ring buffers. Every setting of the amplifier can be read
and written.")
cpack_add_component(dev DISPLAY_NAME "pekolm development files" DEPENDS runtime
  DESCRIPTION "What programs on the pekolm library need to build: the header pekolm.h, the
link to the library, the CMake package (find_package(pekolm)), the pkg-config
file pekolm.pc, the manual page pekolm(3) and an example program.")
cpack_add_component(tools DISPLAY_NAME "pekolm programs" DEPENDS runtime
  DESCRIPTION "Programs on the pekolm library: kolmconsole, an interactive console for one
amplifier, kolmsim, a simulated amplifier on a pseudo-terminal, kolmrec, a
recorder of measured values into CSV, kolmscan, which lists the serial ports
and finds the amplifiers on them, and kolmdemo, a short check of an
amplifier.")

# Every package has its own folder in /usr/share/doc with the copyright file and the changelog (a native
# package's: changelog.gz) that Debian wants. Only the packages install them (EXCLUDE_FROM_ALL: a component's
# own install, as CPack does it): a plain `cmake --install` keeps the one folder share/doc/pekolm.
# The copyright file is LICENSE in Debian's machine-readable form.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE PEKOLM_LICENSE)
if(NOT PEKOLM_LICENSE MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "LICENSE is not the MIT license with one copyright line")
endif()
set(PEKOLM_COPYRIGHT_HOLDER "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" PEKOLM_LICENSE_TERMS)
string(REPLACE "\n\n" "\n.\n" PEKOLM_LICENSE_TERMS "${PEKOLM_LICENSE_TERMS}")
string(REPLACE "\n" "\n " PEKOLM_LICENSE_TERMS "${PEKOLM_LICENSE_TERMS}")
# Debian calls this text of the MIT license Expat.
file(CONFIGURE OUTPUT ${PEKOLM_DEBIAN_DIR}/copyright @ONLY CONTENT "\
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: pekolm
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${PEKOLM_COPYRIGHT_HOLDER}
License: Expat
 ${PEKOLM_LICENSE_TERMS}
")
# Debian's tools take the changelog and the manual pages compressed, without name or time stamp in the
# header (gzip -n), so that the same sources give the same packages.
add_custom_command(OUTPUT ${PEKOLM_DEBIAN_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${PEKOLM_DEBIAN_DIR}/changelog
  COMMAND gzip -9nf ${PEKOLM_DEBIAN_DIR}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog VERBATIM)
add_custom_target(pekolm_debian_changelog ALL DEPENDS ${PEKOLM_DEBIAN_DIR}/changelog.gz)
foreach(component package IN ZIP_LISTS CPACK_COMPONENTS_ALL PEKOLM_DEBIAN_PACKAGES)
  install(FILES ${PEKOLM_DEBIAN_DIR}/copyright ${PEKOLM_DEBIAN_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libpekolm1 COMPONENT runtime EXCLUDE_FROM_ALL)
install(FILES ${PEKOLM_EXAMPLE_FILES}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libpekolm-dev/examples COMPONENT dev EXCLUDE_FROM_ALL)
