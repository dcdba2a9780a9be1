# What `cmake --install` and the Debian packages carry: the library (shared
# and static), its header, mirlane.pc, the CMake package mirlane::mirlane,
# the tools, the player and the manual pages.
#
# Components, one Debian package each:
#   runtime      libmirlane1     the shared library
#   development  libmirlane-dev  header, static library, .so link, mirlane.pc,
#                                CMake package, mirlane(3)
#   player       zefplayer       the player and the four tools, their pages;
#                                every other component (the desktop files, ...)
#                                joins it
# Everything installed without a component (the player's own rules) is the
# player's: CMAKE_INSTALL_DEFAULT_COMPONENT_NAME is set before it is added.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MIRLANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mirlane)

# ---- the library -------------------------------------------------------------
set_target_properties(mirlane_shared PROPERTIES EXPORT_NAME mirlane)
set_target_properties(mirlane PROPERTIES EXPORT_NAME mirlane_static)
install(TARGETS mirlane_shared EXPORT mirlaneTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS mirlane EXPORT mirlaneTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/sdk/include/mirlane.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(FILES ${CMAKE_SOURCE_DIR}/examples/zefdecode.c ${CMAKE_SOURCE_DIR}/examples/CMakeLists.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libmirlane-dev/examples COMPONENT development)

# CMake package: find_package(mirlane) gives mirlane::mirlane (shared) and
# mirlane::mirlane_static.
install(EXPORT mirlaneTargets NAMESPACE mirlane:: DESTINATION ${MIRLANE_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/mirlaneConfig.cmake.in
    ${CMAKE_BINARY_DIR}/packaging/mirlaneConfig.cmake INSTALL_DESTINATION ${MIRLANE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/mirlaneConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/mirlaneConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/mirlaneConfigVersion.cmake
        DESTINATION ${MIRLANE_CMAKE_DIR} COMPONENT development)

# mirlane.pc: the private part is computed from what the static library
# links (MIRLANE_STATIC_DEPENDENCIES): an imported target that pkg-config
# knows becomes a Requires.private module, the rest Libs.private flags.
set(_zef_pc_modules ALSA::ALSA=alsa SndFile::sndfile=sndfile)
set(MIRLANE_PC_REQUIRES_PRIVATE "")
set(MIRLANE_PC_LIBS_PRIVATE "")
foreach(_dep ${MIRLANE_STATIC_DEPENDENCIES})
  set(_module "")
  foreach(_pair ${_zef_pc_modules})
    string(REPLACE "=" ";" _pair "${_pair}")
    list(GET _pair 0 _target)
    if(_dep STREQUAL _target)
      list(GET _pair 1 _module)
    endif()
  endforeach()
  if(_module)
    list(APPEND MIRLANE_PC_REQUIRES_PRIVATE ${_module})
  elseif(_dep STREQUAL "Threads::Threads")
    if(CMAKE_THREAD_LIBS_INIT)
      list(APPEND MIRLANE_PC_LIBS_PRIVATE ${CMAKE_THREAD_LIBS_INIT})
    endif()
  elseif(TARGET ${_dep})
    message(FATAL_ERROR "mirlane.pc: no pkg-config module known for ${_dep}")
  else()
    list(APPEND MIRLANE_PC_LIBS_PRIVATE -l${_dep})
  endif()
endforeach()
list(JOIN MIRLANE_PC_REQUIRES_PRIVATE ", " MIRLANE_PC_REQUIRES_PRIVATE)
list(JOIN MIRLANE_PC_LIBS_PRIVATE " " MIRLANE_PC_LIBS_PRIVATE)
# The prefix is found from the file's own place, so an installed tree can move.
file(RELATIVE_PATH MIRLANE_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" MIRLANE_PC_TO_PREFIX "${MIRLANE_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/mirlane.pc.in ${CMAKE_BINARY_DIR}/packaging/mirlane.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/mirlane.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# ---- the tools ----------------------------------------------------------------
install(TARGETS zefinfo zefdec zefenc zefplay zefrec RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT player)

if(ZEF_LIBRARY_ONLY)
  return()
endif()

# ---- manual pages -------------------------------------------------------------
# Written once in scdoc's form (man/*.scd); the build makes troff of them,
# plain for the page check and compressed for installing.
find_program(SCDOC scdoc REQUIRED)
find_program(GZIP gzip REQUIRED)
set(_zef_pages zefplayer.1 zefinfo.1 zefdec.1 zefenc.1 zefplay.1 zefrec.1 mirlane.3)
set(MIRLANE_MAN_PAGES "")
set(_zef_page_outputs "")
foreach(_page ${_zef_pages})
  set(_src ${CMAKE_SOURCE_DIR}/man/${_page}.scd)
  set(_out ${CMAKE_BINARY_DIR}/man/${_page})
  add_custom_command(OUTPUT ${_out} ${_out}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${SCDOC} < ${_src} > ${_out}
      COMMAND ${GZIP} -9nc ${_out} > ${_out}.gz
      DEPENDS ${_src} VERBATIM)
  list(APPEND MIRLANE_MAN_PAGES ${_out})
  list(APPEND _zef_page_outputs ${_out} ${_out}.gz)
  string(REGEX REPLACE ".*\\." "" _section ${_page})
  if(_section STREQUAL "3")
    set(_component development)
  else()
    set(_component player)
  endif()
  install(FILES ${_out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section} COMPONENT ${_component})
endforeach()
add_custom_target(manpages ALL DEPENDS ${_zef_page_outputs})

# ---- Debian packages ----------------------------------------------------------
# cpack -G DEB makes libmirlane1, libmirlane-dev and zefplayer; the library
# and program dependencies come from dpkg-shlibdeps.
set(ZEF_PACKAGE_MAINTAINER "Zef player maintainers <maintainers@users.noreply.c-seed-1c4c30ad.example>"
    CACHE STRING "Maintainer field of the Debian packages")
set(ZEF_PACKAGE_VERSION ${PROJECT_VERSION})

# Every package has its copyright file and changelog.
set(_zef_changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${_zef_changelog} @ONLY)
add_custom_command(OUTPUT ${_zef_changelog}.gz
    COMMAND ${GZIP} -9nc ${_zef_changelog} > ${_zef_changelog}.gz
    DEPENDS ${_zef_changelog} VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${_zef_changelog}.gz)
foreach(_pair runtime=libmirlane1 development=libmirlane-dev player=zefplayer)
  string(REPLACE "=" ";" _pair "${_pair}")
  list(GET _pair 0 _component)
  list(GET _pair 1 _package)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${_zef_changelog}.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package} COMPONENT ${_component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zefplayer)
set(CPACK_PACKAGE_VERSION ${ZEF_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZEF_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Every component but the library's two (the player's, the desktop files,
# whatever comes later) goes into the zefplayer package.
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
foreach(_component ${CPACK_COMPONENTS_ALL})
  if(NOT _component MATCHES "^(runtime|development)$")
    string(TOUPPER ${_component} _upper)
    set(CPACK_COMPONENT_${_upper}_GROUP programs)
  endif()
endforeach()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE zefplayer)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libmirlane1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shlibs file, and an ldconfig trigger (beside the ldconfig calls that
# CPack writes into postinst and postrm for a library in /usr/lib).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Zef speech codec library\nMirlane decodes and encodes Zef speech files: Orvo at 2.4 kbit/s and Peln at\n2.9 kbit/s, in WAVE, AIFF or raw containers, with pitch shift, time warp and\nvoice presets, and plays them on the sound device.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libmirlane-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libmirlane1 (= ${ZEF_PACKAGE_VERSION}), libasound2-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Zef speech codec library (development files)\nThe header mirlane.h, the static library, mirlane.pc, the CMake package\n(find_package(mirlane) gives mirlane::mirlane) and the mirlane(3) manual page\nfor programs that decode, encode or play Zef speech files.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME zefplayer)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
    "player and tools for Zef speech files\nzefplayer plays Zef speech files (Orvo 2.4 kbit/s, Peln 2.9 kbit/s) in a small\nMotif window with speed and position controls.  zefinfo describes Zef, WAVE and\nAIFF files, zefdec decodes them to WAVE, AIFF-C or raw PCM, zefenc compresses\nspeech into Zef files and zefplay plays them from the command line.")

include(CPack)
