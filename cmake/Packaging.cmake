# Installation and the Debian package.
include(GNUInstallDirs)

foreach(program tuva tuvactl tuva-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(FILES packaging/io.github.tuva.Programmer.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/io.github.tuva.Programmer.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The configuration files' type, so that a file manager opens a .tbl with the programmer; the
# package's installer (or update-mime-database) adds it to the desktop's database.
install(FILES packaging/io.github.tuva.Programmer.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES packaging/tuva.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# udev reads its rules from lib/udev/rules.d under /usr and /usr/local alike (not the
# architecture's library folder).
install(FILES packaging/70-tuva.rules DESTINATION lib/udev/rules.d)

# Manual pages and the changelog are installed compressed, as Debian wants them (gzip -n: no name
# or time stamp, so the same sources give the same bytes).
find_program(GZIP gzip REQUIRED)
configure_file(packaging/changelog.in packaging/changelog @ONLY)
set(compressed)
foreach(source packaging/man/tuva.1 packaging/man/tuvactl.1 packaging/man/tuva-sim.1
               ${CMAKE_BINARY_DIR}/packaging/changelog)
  get_filename_component(name ${source} NAME)
  get_filename_component(input ${source} ABSOLUTE)
  set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${output} DEPENDS ${input}
    COMMAND sh -c "${GZIP} -9n < '${input}' > '${output}'" VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(tuva_packaging_files ALL DEPENDS ${compressed})
list(FILTER compressed INCLUDE REGEX "\\.1\\.gz$")
install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME tuva)
set(CPACK_PACKAGE_VENDOR "tuva developers")
set(CPACK_PACKAGE_CONTACT "tuva developers <tuva@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Programmer for the Tarnhollow Vantel Tuva FLEX paging-receiver board")
set(CPACK_PACKAGE_DESCRIPTION
  "Reads, edits, writes and verifies the configuration of a Tuva board over
a serial line, keeps configurations as .tbl files, and in service mode
compares or programs its firmware. Includes the Qt programmer tuva, the
command-line tool tuvactl and the simulated board tuva-sim.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries come from the programs' links; Qt's X11 and Wayland platform plugins are loaded at
# run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "man-db")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
