# What the users download: on Linux a .deb of tq5-updater and tq5-devsim with their man
# pages, on Windows a .zip of Updater.exe with a readme. tools/package.sh builds the programs
# and the target tq5_package_files, then runs cpack; an ordinary build builds none of this.
#
# Everything takes its version from project() in CMakeLists.txt, as Updater.exe's version
# record and `--version` do.

# cpack installs the programs that tools/package.sh built; it need not build every test and
# benchmark of the preset first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME tq5-updater)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the VARN TQ-5 over MIDI")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
set(_tq5_pkg "${PROJECT_BINARY_DIR}/packaging")

if(WIN32)
  if(TARGET Updater)
    # Windows readers open a .txt with CRLF line ends.
    configure_file(packaging/windows/README.txt.in "${_tq5_pkg}/README.txt" @ONLY
      NEWLINE_STYLE CRLF)
    install(TARGETS Updater RUNTIME DESTINATION .)
    install(FILES "${_tq5_pkg}/README.txt" DESTINATION .)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "tq5-updater-${PROJECT_VERSION}-windows-x64")
    # Unpacking gives Updater.exe and README.txt, in the folder the user unpacks to.
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    add_custom_target(tq5_package_files DEPENDS Updater)
  endif()
elseif(TARGET tq5-updater AND TARGET tq5-devsim)
  include(GNUInstallDirs)
  set(TQ5_PACKAGE_MAINTAINER "TQ-5 updater maintainers <tq5-updater@example.org>" CACHE STRING
    "Maintainer field of the Debian package: name <address>")

  # --- files built for the package (target tq5_package_files) ------------------------------
  find_program(TQ5_HELP2MAN help2man)
  find_program(TQ5_DPKG_SHLIBDEPS dpkg-shlibdeps)
  set(_tq5_package_outputs "")

  # Man pages: the options from the program's own --help (help2man), the rest from
  # packaging/man/<program>.h2m.
  foreach(_program tq5-updater tq5-devsim)
    set(_page "${_tq5_pkg}/man/${_program}.1")
    set(_include "${PROJECT_SOURCE_DIR}/packaging/man/${_program}.h2m")
    add_custom_command(OUTPUT "${_page}.gz"
      COMMAND "${TQ5_HELP2MAN}" --no-info --section=1 "--version-string=${PROJECT_VERSION}"
              "--include=${_include}" "--output=${_page}"
              "$<TARGET_FILE:${_program}>"
      COMMAND gzip -9nf "${_page}"
      DEPENDS ${_program} "${_include}"
      COMMENT "Man page of ${_program}"
      VERBATIM)
    list(APPEND _tq5_package_outputs "${_page}.gz")
  endforeach()

  # The changelog and the copyright file every Debian package carries; their dates honour
  # SOURCE_DATE_EPOCH.
  string(TIMESTAMP TQ5_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  string(TIMESTAMP TQ5_PACKAGE_YEAR "%Y" UTC)
  configure_file(packaging/debian/changelog.in "${_tq5_pkg}/debian/changelog" @ONLY)
  configure_file(packaging/debian/copyright.in "${_tq5_pkg}/debian/copyright" @ONLY)
  add_custom_command(OUTPUT "${_tq5_pkg}/changelog.gz"
    COMMAND ${CMAKE_COMMAND} -E copy "${_tq5_pkg}/debian/changelog" "${_tq5_pkg}/changelog"
    COMMAND gzip -9nf "${_tq5_pkg}/changelog"
    DEPENDS "${_tq5_pkg}/debian/changelog"
    VERBATIM)
  list(APPEND _tq5_package_outputs "${_tq5_pkg}/changelog.gz")

  # Depends: dpkg-shlibdeps over the programs and over the RtMidi library they link. ALSA and
  # JACK reach the programs only through RtMidi, so the programs' links alone would name
  # RtMidi and not the MIDI systems it was built with; dpkg-shlibdeps merges the two lists.
  set(_tq5_rtmidi_library "")
  if(pkgcfg_lib_RTMIDI_rtmidi)
    file(REAL_PATH "${pkgcfg_lib_RTMIDI_rtmidi}" _tq5_rtmidi_library)
  endif()
  set(_tq5_depends "${_tq5_pkg}/depends.substvars")
  file(WRITE "${_tq5_pkg}/shlibdeps/debian/control" "Source: tq5-updater\n")
  add_custom_command(OUTPUT "${_tq5_depends}"
    COMMAND ${CMAKE_COMMAND} -E rm -f "${_tq5_depends}"
    COMMAND "${TQ5_DPKG_SHLIBDEPS}" "-T${_tq5_depends}" "-e$<TARGET_FILE:tq5-updater>"
            "-e$<TARGET_FILE:tq5-devsim>" "-e${_tq5_rtmidi_library}"
    DEPENDS tq5-updater tq5-devsim
    WORKING_DIRECTORY "${_tq5_pkg}/shlibdeps"
    COMMENT "Package dependencies of the programs and their RtMidi"
    VERBATIM)
  list(APPEND _tq5_package_outputs "${_tq5_depends}")

  if(TQ5_HELP2MAN AND TQ5_DPKG_SHLIBDEPS AND _tq5_rtmidi_library)
    add_custom_target(tq5_package_files DEPENDS ${_tq5_package_outputs})
  else()
    add_custom_target(tq5_package_files
      COMMAND ${CMAKE_COMMAND} -E echo
              "The .deb needs help2man, dpkg-dev and RtMidi: run tools/install-deps.sh"
      COMMAND ${CMAKE_COMMAND} -E false)
  endif()

  # --- contents ----------------------------------------------------------------------------
  install(TARGETS tq5-updater tq5-devsim RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${_tq5_pkg}/man/tq5-updater.1.gz" "${_tq5_pkg}/man/tq5-devsim.1.gz"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES "${_tq5_pkg}/debian/copyright" "${_tq5_pkg}/changelog.gz"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/tq5-updater")

  # --- the package ---------------------------------------------------------------------------
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TQ5_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  file(READ packaging/debian/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
  string(STRIP "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}" CPACK_DEBIAN_PACKAGE_DESCRIPTION)
  # Read by cpack when it runs: the Depends line that the build wrote.
  set(TQ5_PACKAGE_DEPENDS_FILE "${_tq5_depends}")
  configure_file(packaging/cpack_options.cmake.in "${_tq5_pkg}/cpack_options.cmake" @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE "${_tq5_pkg}/cpack_options.cmake")
else()
  message(STATUS "tq5-updater or tq5-devsim is not built: no package")
endif()

include(CPack)
