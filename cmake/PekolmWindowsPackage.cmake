# The Windows release: what `cmake --install` puts where in a Windows tree, and, in the 64-bit tree, the
# zip pekolm-<version>-windows.zip that CPack's ZIP generator makes of it (`cmake --build build-windows
# --target package`). The layout is the one users of C libraries on Windows look for, the 64-bit files at
# the top and the 32-bit ones beside them in x86/:
#   bin/       pekolm.dll and the programs                     x86/bin/   the same, 32-bit
#   lib/       pekolm.lib (MSVC), libpekolm.dll.a (mingw),     x86/lib/   the same, 32-bit
#              pekolm.def
#   include/   pekolm.h (one header for both)
#   README-windows.txt (the README's Windows section), LICENSE.txt
# The 32-bit files come from a 32-bit tree of the same sources, named by PEKOLM_WINDOWS32_TREE: packaging
# builds it and installs its runtime, dev and tools components into x86/, stripped by its own strip.

# MSVC's linker reads an import library in the short import format: one small record per function, naming
# the DLL and the export, that llvm-dlltool writes from the same .def file the DLL is linked with. On i386
# it decorates the C names as MSVC's cdecl does (_KolmactExt), importing them undecorated; the C++ names
# stay as they are. Debian's llvm package names the tool llvm-dlltool; llvm-14, which clang's
# recommendations bring, only llvm-dlltool-14.
find_program(PEKOLM_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14
             DOC "llvm-dlltool, which makes the MSVC import library pekolm.lib")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PEKOLM_DLLTOOL_MACHINE i386:x86-64)
else()
  set(PEKOLM_DLLTOOL_MACHINE i386)
endif()
set(PEKOLM_WINDOWS_DIR ${PROJECT_BINARY_DIR}/windows)
set(PEKOLM_DEF ${PROJECT_SOURCE_DIR}/devicelib/pekolm.def)
if(PEKOLM_LLVM_DLLTOOL)
  add_custom_command(OUTPUT ${PEKOLM_WINDOWS_DIR}/pekolm.lib
    COMMAND ${PEKOLM_LLVM_DLLTOOL} -m ${PEKOLM_DLLTOOL_MACHINE} -d ${PEKOLM_DEF} -D pekolm.dll
            -l ${PEKOLM_WINDOWS_DIR}/pekolm.lib
    DEPENDS ${PEKOLM_DEF} VERBATIM)
  add_custom_target(pekolm_msvc_import_library ALL DEPENDS ${PEKOLM_WINDOWS_DIR}/pekolm.lib)
else()
  message(STATUS "No llvm-dlltool: no pekolm.lib, and no Windows release (install Debian's llvm)")
endif()

# The texts in Windows' line endings, so that every editor there, an old Notepad too, shows their lines. The
# README's Windows section is taken from README.md at each build, so that it says what the tree does.
set(PEKOLM_TEXT_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/PekolmWindowsText.cmake)
add_custom_command(OUTPUT ${PEKOLM_WINDOWS_DIR}/README-windows.txt
  COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/README.md -DSECTION=Windows
          "-DTITLE=pekolm ${PROJECT_VERSION} for Windows" -DOUTPUT=${PEKOLM_WINDOWS_DIR}/README-windows.txt
          -P ${PEKOLM_TEXT_SCRIPT}
  DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PEKOLM_TEXT_SCRIPT} VERBATIM)
add_custom_command(OUTPUT ${PEKOLM_WINDOWS_DIR}/LICENSE.txt
  COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/LICENSE -DOUTPUT=${PEKOLM_WINDOWS_DIR}/LICENSE.txt
          -P ${PEKOLM_TEXT_SCRIPT}
  DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${PEKOLM_TEXT_SCRIPT} VERBATIM)
add_custom_target(pekolm_windows_texts ALL
  DEPENDS ${PEKOLM_WINDOWS_DIR}/README-windows.txt ${PEKOLM_WINDOWS_DIR}/LICENSE.txt)

set(PEKOLM_WINDOWS_PROGRAMS kolmconsole kolmdemo kolmrec kolmscan)
# Everything the install rules below take, for a build of the 32-bit tree that need not build its tests.
add_custom_target(pekolm_windows_release DEPENDS pekolm ${PEKOLM_WINDOWS_PROGRAMS} pekolm_windows_texts)
if(TARGET pekolm_msvc_import_library)
  add_dependencies(pekolm_windows_release pekolm_msvc_import_library)
endif()

# Components: runtime (the DLL), dev (the import libraries and the .def file), tools (the programs), then
# header and doc, which the 32-bit tree does not add a second time.
install(TARGETS pekolm RUNTIME DESTINATION bin COMPONENT runtime ARCHIVE DESTINATION lib COMPONENT dev)
install(TARGETS ${PEKOLM_WINDOWS_PROGRAMS} RUNTIME DESTINATION bin COMPONENT tools)
if(PEKOLM_LLVM_DLLTOOL)
  install(FILES ${PEKOLM_WINDOWS_DIR}/pekolm.lib DESTINATION lib COMPONENT dev)
else()
  install(CODE "message(FATAL_ERROR \"no pekolm.lib: configure again with llvm-dlltool installed\")"
          COMPONENT dev)
endif()
install(FILES ${PEKOLM_DEF} DESTINATION lib COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/devicelib/include/pekolm.h DESTINATION include COMPONENT header)
install(FILES ${PEKOLM_WINDOWS_DIR}/README-windows.txt ${PEKOLM_WINDOWS_DIR}/LICENSE.txt DESTINATION .
        COMPONENT doc)

set(PEKOLM_WINDOWS32_TREE "" CACHE PATH
    "Build directory of a 32-bit Windows tree of these sources, whose DLL, import libraries and programs go into x86/")
if(PEKOLM_WINDOWS32_TREE)
  # Checked here rather than when packaging: a wrong folder would otherwise show only in the zip.
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    message(FATAL_ERROR "PEKOLM_WINDOWS32_TREE is for the 64-bit Windows tree, which makes the zip")
  endif()
  if(NOT IS_ABSOLUTE "${PEKOLM_WINDOWS32_TREE}" OR NOT EXISTS "${PEKOLM_WINDOWS32_TREE}/CMakeCache.txt")
    message(FATAL_ERROR "PEKOLM_WINDOWS32_TREE (${PEKOLM_WINDOWS32_TREE}) is no absolute path of a configured "
                        "build directory: configure the 32-bit tree first, with "
                        "-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake")
  endif()
  # The compiler is no cache entry when a toolchain file names it; the strip its install uses is.
  load_cache(${PEKOLM_WINDOWS32_TREE} READ_WITH_PREFIX PEKOLM_WINDOWS32_ pekolm_SOURCE_DIR CMAKE_STRIP)
  if(NOT PEKOLM_WINDOWS32_pekolm_SOURCE_DIR STREQUAL PROJECT_SOURCE_DIR)
    message(FATAL_ERROR "PEKOLM_WINDOWS32_TREE is built from ${PEKOLM_WINDOWS32_pekolm_SOURCE_DIR}, "
                        "not from these sources (${PROJECT_SOURCE_DIR})")
  endif()
  get_filename_component(PEKOLM_WINDOWS32_STRIP "${PEKOLM_WINDOWS32_CMAKE_STRIP}" NAME)
  if(NOT PEKOLM_WINDOWS32_STRIP MATCHES "^i686-")
    message(FATAL_ERROR "PEKOLM_WINDOWS32_TREE is no 32-bit Windows tree (its strip: ${PEKOLM_WINDOWS32_STRIP})")
  endif()
  # Built first, so that the zip never holds a 32-bit DLL older than the sources; DESTDIR, if any, reaches
  # the inner install through the environment.
  install(CODE "
    execute_process(COMMAND \"${CMAKE_COMMAND}\" --build \"${PEKOLM_WINDOWS32_TREE}\" --target pekolm_windows_release
                    COMMAND_ERROR_IS_FATAL ANY)
    set(strip)
    if(CMAKE_INSTALL_DO_STRIP)
      set(strip --strip)
    endif()
    foreach(component runtime dev tools)
      execute_process(COMMAND \"${CMAKE_COMMAND}\" --install \"${PEKOLM_WINDOWS32_TREE}\"
                              --prefix \"\${CMAKE_INSTALL_PREFIX}/x86\" --component \${component} \${strip}
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()" COMPONENT x86)
endif()

if(PROJECT_IS_TOP_LEVEL AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME pekolm)
  set(CPACK_PACKAGE_VENDOR "the pekolm developers")
  set(CPACK_PACKAGE_FILE_NAME pekolm-${PROJECT_VERSION}-windows)
  # Unpacked, the zip makes one folder of its own name.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_STRIP_FILES ON)
  # A zip without x86/ would look complete: cpack refuses to make one.
  set(CPACK_PROJECT_CONFIG_FILE ${PEKOLM_WINDOWS_DIR}/CPackWindows.cmake)
  file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} @ONLY CONTENT [[
if("@PEKOLM_WINDOWS32_TREE@" STREQUAL "")
  message(FATAL_ERROR "The Windows zip holds the 32-bit DLL too: configure this tree with "
                      "-DPEKOLM_WINDOWS32_TREE=<the 32-bit build directory>")
endif()
]])
  include(CPack)
endif()
