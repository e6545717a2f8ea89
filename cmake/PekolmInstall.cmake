# What `cmake --install` puts where (GNU install directories), in components: runtime (the library), dev
# (what compiling and linking against the library needs) and tools (the programs), which the Debian
# packages follow, and doc (README, LICENSE, CHANGELOG and the example).
include(CMakePackageConfigHelpers)

set(PEKOLM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/pekolm)

# libpekolm.so.1.9 and its SONAME link belong to the runtime; the unversioned link only the linker uses.
install(TARGETS pekolm EXPORT pekolmTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/devicelib/include/pekolm.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(TARGETS kolmconsole kolmsim kolmdemo kolmrec kolmscan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# The manual pages are installed compressed, as man reads them and as Debian wants them; gzip -n leaves
# name and time stamp out of the header, so that the same page gives the same file.
set(PEKOLM_MAN_PAGES kolmconsole.1 kolmsim.1 kolmrec.1 kolmdemo.1 kolmscan.1 pekolm.3)
set(PEKOLM_MAN_GZ)
foreach(page IN LISTS PEKOLM_MAN_PAGES)
  set(gz ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/man/${page} ${PROJECT_BINARY_DIR}/man/${page}
    COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/man/${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page} VERBATIM)
  list(APPEND PEKOLM_MAN_GZ ${gz})
endforeach()
add_custom_target(pekolm_man_pages ALL DEPENDS ${PEKOLM_MAN_GZ})
install(FILES ${PROJECT_BINARY_DIR}/man/kolmconsole.1.gz ${PROJECT_BINARY_DIR}/man/kolmsim.1.gz
              ${PROJECT_BINARY_DIR}/man/kolmrec.1.gz ${PROJECT_BINARY_DIR}/man/kolmdemo.1.gz
              ${PROJECT_BINARY_DIR}/man/kolmscan.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
install(FILES ${PROJECT_BINARY_DIR}/man/pekolm.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev)
# The documents in one folder of their own, a component that no Debian package takes: each package has its
# own doc folder (cmake/PekolmPackaging.cmake).
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT doc)
# The example with the three small pieces it shares with the other programs, so that it builds where it lies.
set(PEKOLM_EXAMPLE_FILES ${PROJECT_SOURCE_DIR}/examples/kolmdemo.c ${PROJECT_SOURCE_DIR}/common/standard_streams.h
    ${PROJECT_SOURCE_DIR}/common/standard_streams.c ${PROJECT_SOURCE_DIR}/common/error_message.h
    ${PROJECT_SOURCE_DIR}/common/error_message.c ${PROJECT_SOURCE_DIR}/common/port_devices.h
    ${PROJECT_SOURCE_DIR}/common/port_devices.c)
install(FILES ${PEKOLM_EXAMPLE_FILES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT doc)

# find_package(pekolm 1.9) gives pekolm::pekolm. The files find everything relative to where they lie, so
# the tree may be installed under another prefix than the one configured (cmake --install --prefix, DESTDIR).
install(EXPORT pekolmTargets NAMESPACE pekolm:: DESTINATION ${PEKOLM_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/pekolmConfig.cmake.in
  ${PROJECT_BINARY_DIR}/pekolmConfig.cmake INSTALL_DESTINATION ${PEKOLM_CMAKE_DIR})
# The SONAME's promise: a program built against 1.x runs on any later 1.x, never on another major version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/pekolmConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/pekolmConfig.cmake ${PROJECT_BINARY_DIR}/pekolmConfigVersion.cmake
        DESTINATION ${PEKOLM_CMAKE_DIR} COMPONENT dev)

# pekolm.pc finds the prefix from its own place too (pkg-config's ${pcfiledir}), for the same reason.
file(RELATIVE_PATH PEKOLM_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" PEKOLM_PC_PREFIX "${PEKOLM_PC_PREFIX}")
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(PEKOLM_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(PEKOLM_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/pekolm.pc.in ${PROJECT_BINARY_DIR}/pekolm.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pekolm.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
