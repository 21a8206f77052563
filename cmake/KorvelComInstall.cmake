# Install rules, the exported CMake package (KorvelCom::korvelcom), korvelcom.pc and the CPack
# packages.  Components: runtime (the shared library), dev (headers, static library or link
# name, CMake package, pkg-config file), tools (the command line, which also runs the terminal
# simulator, with its completion script and manual page), python (the Python module).
include(CMakePackageConfigHelpers)

target_compile_features(korvel_library INTERFACE cxx_std_20)
install(TARGETS korvel_library EXPORT KorvelComTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/korvelcom DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

set(_korvel_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/KorvelCom)
install(EXPORT KorvelComTargets NAMESPACE KorvelCom:: DESTINATION ${_korvel_cmakedir}
  COMPONENT dev)
configure_package_config_file(cmake/KorvelComConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KorvelComConfig.cmake INSTALL_DESTINATION ${_korvel_cmakedir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KorvelComConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KorvelComConfig.cmake
  ${PROJECT_BINARY_DIR}/KorvelComConfigVersion.cmake
  DESTINATION ${_korvel_cmakedir} COMPONENT dev)

# korvelcom.pc finds its prefix from its own place, so an installed tree may be moved.
set(_korvel_pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KORVEL_PC_TO_PREFIX /prefix/${_korvel_pcdir} /prefix)
string(REGEX REPLACE "/$" "" KORVEL_PC_TO_PREFIX "${KORVEL_PC_TO_PREFIX}")
set(KORVEL_PC_CFLAGS "")
set(KORVEL_PC_LIBS "")
if(NOT BUILD_SHARED_LIBS)
  set(KORVEL_PC_CFLAGS " -DKORVELCOM_STATIC")
  set(KORVEL_PC_LIBS " -lstdc++ -lm -pthread")  # C programs linking the static library too
endif()
configure_file(cmake/korvelcom.pc.in ${PROJECT_BINARY_DIR}/korvelcom.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/korvelcom.pc DESTINATION ${_korvel_pcdir} COMPONENT dev)

install(TARGETS korvelcom RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
if(NOT CMAKE_CROSSCOMPILING)
  # The tool writes these after each build (tools/korvelcom); the manual page goes compressed,
  # as man and Debian expect.
  set(_korvel_tooldir ${PROJECT_BINARY_DIR}/tools/korvelcom)
  add_custom_command(OUTPUT ${_korvel_tooldir}/korvelcom.1.gz
    COMMAND gzip -9nc korvelcom.1 > korvelcom.1.gz
    DEPENDS korvelcom WORKING_DIRECTORY ${_korvel_tooldir} VERBATIM)
  add_custom_target(korvel_manpage ALL DEPENDS ${_korvel_tooldir}/korvelcom.1.gz)
  install(FILES ${_korvel_tooldir}/korvelcom.bash RENAME korvelcom
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tools)
  install(FILES ${_korvel_tooldir}/korvelcom.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT tools)
endif()

# The Python module over the shared library's C interface, where Debian's python3 looks.
if(BUILD_SHARED_LIBS AND NOT WIN32)
  install(DIRECTORY python/korvelcom DESTINATION lib/python3/dist-packages COMPONENT python
    PATTERN __pycache__ EXCLUDE)
endif()

# Packages.  Debian: libkorvelcom3 (the shared library), libkorvelcom-dev, korvelcom (the
# tools), built from a shared build installed under /usr (scripts/package.sh).  Windows: one
# zip of every component; the COM DLL, its type library and the register scripts join it as
# components of their own.
set(KORVEL_PACKAGE_CONTACT "KorvelCom maintainers <korvelcom@example.org>"
  CACHE STRING "The packages' maintainer, as \"Name <address>\"")
set(CPACK_PACKAGE_NAME korvelcom)
set(CPACK_PACKAGE_VENDOR KorvelCom)
set(CPACK_PACKAGE_CONTACT "${KORVEL_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkorvelcom${PROJECT_VERSION_MAJOR})
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # only the runtime package holds a library
  # Descriptions: the synopsis, then the long text (CPack indents and wraps it).
  set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "payment terminal control library
The KorvelComTools control drives an electronic payment terminal over a serial
line: ENQ/ACK sessions, the basic and the extended payment protocols, checksums,
conversions and file scrambling.  This package holds the shared library.")
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkorvelcom-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_DESCRIPTION "payment terminal control library (development files)
Headers, the CMake package (find_package(KorvelCom)) and the pkg-config file
(korvelcom) of the KorvelComTools control library.")
  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME korvelcom)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_TOOLS_DESCRIPTION "payment terminal command line and simulator
korvelcom runs payments and extended operations on a serial port, plays a
payment terminal on a pseudo-terminal or serial device (korvelcom sim) and
offers the control's checksum, conversion and scrambling utilities.")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-korvelcom)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "payment terminal control for Python
The KorvelComTools control from Python (import korvelcom): every automation
member as an attribute, events as callables, over the C interface of
libkorvelcom.")
  if(BUILD_SHARED_LIBS)
    set(CPACK_COMPONENTS_ALL runtime dev tools python)
    set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
    set(CPACK_COMPONENT_DEV_DEPENDS runtime)
    set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
  else()
    set(CPACK_COMPONENTS_ALL dev tools)
  endif()
endif()
include(CPack)
