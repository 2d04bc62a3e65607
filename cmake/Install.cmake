# Installing the loader as a Linux library: the loader library where hosts dlopen it (outside the
# linker's search path), the public header, the tools with their manual pages, the demo game
# module and the default loading screen as a sample, a pkg-config file and a CMake package for
# host and game-module authors, and a Debian package of exactly this install (./run package).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VEXAL3D_VERSION 1.0.0)
# A publisher shipping a library with a loading screen of its own gives the package a name of its
# own, which then stands in for the stock package (provides, replaces and conflicts with it: both
# hold the same files), and/or a version suffix (1.0.0+SUFFIX, which also sorts after 1.0.0).
set(VEXAL_PACKAGE_NAME "vexal3d-loader" CACHE STRING "The Debian package's name")
set(VEXAL_PACKAGE_VERSION_SUFFIX "" CACHE STRING "Appended to the Debian package's version after a +")
if(NOT VEXAL_PACKAGE_NAME MATCHES "^[a-z0-9][a-z0-9+.-]+$")
  message(FATAL_ERROR "VEXAL_PACKAGE_NAME: \"${VEXAL_PACKAGE_NAME}\" is not a Debian package name "
    "(lower-case letters, digits, +, - and ., at least two, starting with a letter or digit)")
endif()
if(NOT VEXAL_PACKAGE_VERSION_SUFFIX MATCHES "^[A-Za-z0-9.+~]*$")
  message(FATAL_ERROR "VEXAL_PACKAGE_VERSION_SUFFIX: \"${VEXAL_PACKAGE_VERSION_SUFFIX}\" may hold only "
    "letters, digits, ., + and ~")
endif()
set(VEXAL3D_PACKAGE_VERSION ${VEXAL3D_VERSION})
if(VEXAL_PACKAGE_VERSION_SUFFIX)
  string(APPEND VEXAL3D_PACKAGE_VERSION "+${VEXAL_PACKAGE_VERSION_SUFFIX}")
endif()

set(VEXAL3D_LIBRARY_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/vexal3d)
set(VEXAL3D_INCLUDE_INSTALL_DIR ${CMAKE_INSTALL_INCLUDEDIR}/vexal3d)
set(VEXAL3D_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/vexal3d)
set(VEXAL3D_DOC_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/doc/${VEXAL_PACKAGE_NAME})
set(VEXAL3D_LIBRARY_INSTALL_PATH ${VEXAL3D_LIBRARY_INSTALL_DIR}/Vexal3DLoader-Flash.so)
set(VEXAL3D_INSTALL_DIR ${CMAKE_CURRENT_LIST_DIR}/install)

if(TARGET Vexal3DLoader-Flash)
  install(TARGETS Vexal3DLoader-Flash LIBRARY DESTINATION ${VEXAL3D_LIBRARY_INSTALL_DIR})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/include/Vexal3DLoader.h DESTINATION ${VEXAL3D_INCLUDE_INSTALL_DIR})

# An installed vexal-host finds the installed library: first beside itself (the build tree),
# then at the same place relative to its own folder (an install moved as a whole, or staged
# under DESTDIR), then at the configured install path.
if(TARGET vexal-host)
  file(RELATIVE_PATH host_to_library ${CMAKE_INSTALL_FULL_BINDIR}
       ${CMAKE_INSTALL_FULL_LIBDIR}/vexal3d/Vexal3DLoader-Flash.so)
  target_compile_definitions(vexal-host PRIVATE
    VEXAL_INSTALLED_LIBRARY_RELATIVE="${host_to_library}"
    VEXAL_INSTALLED_LIBRARY="${CMAKE_INSTALL_FULL_LIBDIR}/vexal3d/Vexal3DLoader-Flash.so")
endif()

# The tools and their manual pages, compressed as Debian wants them (man reads them either way).
set(manuals "")
foreach(tool host pack screen regex ticks)
  if(TARGET vexal-${tool})
    install(TARGETS vexal-${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    set(page ${CMAKE_SOURCE_DIR}/tools/${tool}/vexal-${tool}.1)
    set(packed ${CMAKE_BINARY_DIR}/man/vexal-${tool}.1.gz)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND gzip -9nc ${page} > ${packed}
      DEPENDS ${page} VERBATIM)
    list(APPEND manuals ${packed})
  endif()
endforeach()
# The changelog's latest entry names the package and version being built.
file(READ ${VEXAL3D_INSTALL_DIR}/changelog changelog_text)
string(REGEX REPLACE "^vexal3d-loader \\([^)]*\\)" "${VEXAL_PACKAGE_NAME} (${VEXAL3D_PACKAGE_VERSION})"
       changelog_text "${changelog_text}")
set(written "")
if(EXISTS ${CMAKE_BINARY_DIR}/changelog)
  file(READ ${CMAKE_BINARY_DIR}/changelog written)
endif()
if(NOT written STREQUAL changelog_text) # kept as it is when unchanged, so nothing is packed anew
  file(WRITE ${CMAKE_BINARY_DIR}/changelog "${changelog_text}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VEXAL3D_INSTALL_DIR}/changelog)
set(changelog ${CMAKE_BINARY_DIR}/man/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/changelog > ${changelog}
  DEPENDS ${CMAKE_BINARY_DIR}/changelog VERBATIM)
add_custom_target(vexal-manuals ALL DEPENDS ${manuals} ${changelog})

# Everything the install takes and nothing else (no test, no benchmark): ./run package builds
# this target, then packs without building everything first (CMAKE_SKIP_INSTALL_ALL_DEPENDENCY).
add_custom_target(vexal-installed DEPENDS vexal-manuals)
foreach(target Vexal3DLoader-Flash vexal-host vexal-pack vexal-screen vexal-regex vexal-ticks vexal-demo-module)
  if(TARGET ${target})
    add_dependencies(vexal-installed ${target})
  endif()
endforeach()
install(FILES ${manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${changelog} ${VEXAL3D_INSTALL_DIR}/copyright DESTINATION ${VEXAL3D_DOC_INSTALL_DIR})

# The demo game module beside the loader library (a program file has no place under share/),
# and the default loading screen, script and pictures, as a sample to preview and start from.
if(TARGET vexal-demo-module)
  install(TARGETS vexal-demo-module LIBRARY DESTINATION ${VEXAL3D_LIBRARY_INSTALL_DIR})
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/screens/assets/ DESTINATION ${VEXAL3D_DATA_INSTALL_DIR}/screen)

# pkg-config: Cflags for the header, and the library's full path for hosts that dlopen it. The
# prefix is found from the .pc file's own folder, so an install into another prefix than the
# configured one (cmake --install --prefix, DESTDIR, a moved tree) names files that exist.
file(RELATIVE_PATH VEXAL3D_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" VEXAL3D_PC_TO_PREFIX "${VEXAL3D_PC_TO_PREFIX}")
configure_file(${VEXAL3D_INSTALL_DIR}/vexal3d-loader.pc.in ${CMAKE_BINARY_DIR}/vexal3d-loader.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vexal3d-loader.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# find_package(Vexal3DLoader): the target Vexal3D::Headers and VEXAL3D_LOADER_LIBRARY, found
# relative to the package's own folder so a staged or moved install works as well.
set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Vexal3DLoader)
configure_package_config_file(${VEXAL3D_INSTALL_DIR}/Vexal3DLoaderConfig.cmake.in
  ${CMAKE_BINARY_DIR}/Vexal3DLoaderConfig.cmake INSTALL_DESTINATION ${package_dir}
  PATH_VARS VEXAL3D_INCLUDE_INSTALL_DIR VEXAL3D_LIBRARY_INSTALL_PATH)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/Vexal3DLoaderConfigVersion.cmake
  VERSION ${VEXAL3D_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/Vexal3DLoaderConfig.cmake ${CMAKE_BINARY_DIR}/Vexal3DLoaderConfigVersion.cmake
  DESTINATION ${package_dir})

# The Debian package: the install above under the configured prefix (./run package uses /usr),
# stripped, with its dependencies read from the libraries the binaries need.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VEXAL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${VEXAL3D_PACKAGE_VERSION})
if(NOT VEXAL_PACKAGE_NAME STREQUAL "vexal3d-loader")
  # Versioned, so that a dependency on a version of vexal3d-loader is met as well.
  set(CPACK_DEBIAN_PACKAGE_PROVIDES "vexal3d-loader (= ${VEXAL3D_PACKAGE_VERSION})")
  set(CPACK_DEBIAN_PACKAGE_REPLACES vexal3d-loader)
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS vexal3d-loader)
endif()
set(CPACK_PACKAGE_CONTACT "Vexal3D loader maintainers <maintainers@vexal3d.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "game loader library for X11 hosts, with its tools")
# The summary above is the synopsis; CPack indents these lines and marks the empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vexal3DLoader-Flash.so fetches a game's package over HTTP, keeps its files in
a local cache, shows a scripted loading screen meanwhile and hands the host's
window to the game module.

This package holds the library, its C header, a pkg-config file and a CMake
package for host and game-module authors, the launcher vexal-host, the package
tool vexal-pack, the loading-screen previewer vexal-screen, the pattern checker
vexal-regex, the tick-log report vexal-ticks, and a demo game module.")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
