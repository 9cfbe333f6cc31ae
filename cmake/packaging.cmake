# What `make package` puts in the Debian package beside the program: the
# manual page, the menu entry with its icon, the AppStream metadata, the
# shell completion. Built with the program (the manual page compressed, the
# icon's PNG sizes drawn from its SVG), installed under /usr.
include(GNUInstallDirs)

find_program(GZIP_EXECUTABLE gzip REQUIRED)
find_program(RSVG_CONVERT_EXECUTABLE rsvg-convert REQUIRED)

set(QV_APP_ID org.quorvel.Quorvel)
set(QV_DATA ${CMAKE_SOURCE_DIR}/data)
set(QV_GEN ${CMAKE_BINARY_DIR}/generated)

add_custom_command(OUTPUT ${QV_GEN}/quorvel.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QV_GEN}
  COMMAND ${GZIP_EXECUTABLE} -9nc ${CMAKE_SOURCE_DIR}/docs/quorvel.1 > ${QV_GEN}/quorvel.1.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/quorvel.1)

set(QV_ICON_SIZES 16 24 32 48 64 128 256)
set(QV_ICONS)
foreach(size ${QV_ICON_SIZES})
  set(png ${QV_GEN}/icons/${size}/quorvel.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QV_GEN}/icons/${size}
    COMMAND ${RSVG_CONVERT_EXECUTABLE} -w ${size} -h ${size} -o ${png} ${QV_DATA}/icons/quorvel.svg
    DEPENDS ${QV_DATA}/icons/quorvel.svg)
  list(APPEND QV_ICONS ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(quorvel_data ALL DEPENDS ${QV_GEN}/quorvel.1.gz ${QV_ICONS})

install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QV_GEN}/quorvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QV_DATA}/icons/quorvel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${QV_DATA}/${QV_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QV_DATA}/${QV_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${QV_DATA}/completion/quorvel DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel developers")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "autoguider for amateur telescopes")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "autoguider for amateur telescopes
 Quorvel watches a guide star through a video camera (a webcam or an INDI
 camera), measures once a second where the star lies and sends the mount
 short guide pulses (LX 200 serial commands, a relay box on a serial line,
 an INDI mount, or an on-screen LED window) that bring it back. Its solar
 mode guides on a dark spot of the Sun's disc. It writes guide logs in
 PHD2's format, draws them as graphs, answers imaging suites (N.I.N.A.,
 KStars Ekos, CCDciel) as PHD2 does, and includes a simulated sky to try
 guiding without hardware. Its windows are in French.")
# The libraries the program links are found by dpkg-shlibdeps; Qt's platform
# plugins (the windows, the offscreen drawing) come with libqt6gui6, which
# the program links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
