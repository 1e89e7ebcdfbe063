# Installation and the Debian package.
include(GNUInstallDirs)

foreach(program tuva tuvactl tuva-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(FILES packaging/tuva.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/tuva.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/man/tuva.1 packaging/man/tuvactl.1 packaging/man/tuva-sim.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME tuva)
set(CPACK_PACKAGE_VENDOR "tuva developers")
set(CPACK_PACKAGE_CONTACT "tuva developers <tuva@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Programmer for the Tarnhollow Vantel Tuva FLEX paging-receiver board")
set(CPACK_PACKAGE_DESCRIPTION
  "Reads, edits, writes and verifies the configuration of a Tuva board over a serial line,\
 keeps configurations as .tbl files, and in service mode compares or programs its firmware.\
 Includes the Qt programmer tuva, the command-line tool tuvactl and the simulated board tuva-sim.")
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
