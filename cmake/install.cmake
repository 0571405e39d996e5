# Installation of the component: the library, its public headers, the help
# file beside the library, a CMake package (find_package(Korvena) gives
# Korvena::korvena) and a pkg-config file (korvena.pc). Included from the
# top-level CMakeLists.txt once the korvena target exists.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

get_filename_component(KORVENA_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
get_target_property(KORVENA_VERSION korvena VERSION)
set(KORVENA_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Korvena")
set(KORVENA_PACKAGE_DIR "${CMAKE_CURRENT_BINARY_DIR}/package")

install(TARGETS korvena EXPORT KorvenaTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(DIRECTORY "${KORVENA_ROOT}/include/korvena" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
  FILES_MATCHING PATTERN "*.h")

# The component opens its help file from its own folder. The file is built
# elsewhere; until it exists it is simply left out.
set(KORVENA_HELP_FILE "${CMAKE_BINARY_DIR}/Lumastra.chm" CACHE FILEPATH
  "The compiled help file installed beside the library")
install(FILES "${KORVENA_HELP_FILE}" DESTINATION "${CMAKE_INSTALL_LIBDIR}" OPTIONAL)
# A program with the component linked in looks there from its bin folder.
set_source_files_properties("${KORVENA_ROOT}/support/basHTMLHelp.cpp" TARGET_DIRECTORY korvena_objects
  PROPERTIES COMPILE_DEFINITIONS "KORVENA_INSTALL_LIBDIR=\"${CMAKE_INSTALL_LIBDIR}\"")

# CMake package.
install(EXPORT KorvenaTargets NAMESPACE Korvena:: DESTINATION "${KORVENA_CMAKE_DIR}")
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/KorvenaConfig.cmake.in"
  "${KORVENA_PACKAGE_DIR}/KorvenaConfig.cmake"
  INSTALL_DESTINATION "${KORVENA_CMAKE_DIR}")
# Before 1.0 a minor version may break the interface.
write_basic_package_version_file("${KORVENA_PACKAGE_DIR}/KorvenaConfigVersion.cmake"
  VERSION "${KORVENA_VERSION}" COMPATIBILITY SameMinorVersion)
install(FILES "${KORVENA_PACKAGE_DIR}/KorvenaConfig.cmake" "${KORVENA_PACKAGE_DIR}/KorvenaConfigVersion.cmake"
  DESTINATION "${KORVENA_CMAKE_DIR}")

# pkg-config file. It finds the prefix from its own place, so the installed
# tree may be moved or installed with --prefix.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(KORVENA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(KORVENA_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(KORVENA_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH KORVENA_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" KORVENA_PC_UP "${KORVENA_PC_UP}")
  set(KORVENA_PC_PREFIX "\${pcfiledir}/${KORVENA_PC_UP}")
  set(KORVENA_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(KORVENA_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/korvena.pc.in" "${KORVENA_PACKAGE_DIR}/korvena.pc" @ONLY)
install(FILES "${KORVENA_PACKAGE_DIR}/korvena.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
