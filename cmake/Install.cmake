# Where an installed Morvane puts its files, and the Debian package made from them.
# The programs go to bin/ and what they ship to share/morvane/, which the programs find
# beside themselves at ../share/morvane, so any prefix works, as does the build tree
# (where the same folders lie beside the programs).
include(GNUInstallDirs)

set(MORVANE_HOMEPAGE_URL "https://morvane.org" CACHE STRING "Address of the project's pages (the store listing links there)")
set(morvane_data ${CMAKE_INSTALL_DATADIR}/morvane)
set(morvane_linux ${PROJECT_SOURCE_DIR}/packaging/linux)

install(TARGETS morvane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_BINARY_DIR}/src/DemoContent DESTINATION ${morvane_data})

if(MORVANE_APP)
  install(TARGETS morvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${PROJECT_BINARY_DIR}/src/Fonts ${PROJECT_BINARY_DIR}/src/Guide DESTINATION ${morvane_data})

  # The desktop's menu entry, icons, file types and software-centre listing.
  install(FILES ${morvane_linux}/org.morvane.Morvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${morvane_linux}/org.morvane.Morvane.mime.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME org.morvane.Morvane.xml)
  install(FILES ${morvane_linux}/icons/org.morvane.Morvane.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 24 32 48 64 128 256 512)
    install(FILES ${morvane_linux}/icons/${size}x${size}/org.morvane.Morvane.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  string(TIMESTAMP MORVANE_RELEASE_DATE "%Y-%m-%d" UTC)  # follows SOURCE_DATE_EPOCH when set
  configure_file(${morvane_linux}/org.morvane.Morvane.metainfo.xml.in
                 ${PROJECT_BINARY_DIR}/generated/org.morvane.Morvane.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/generated/org.morvane.Morvane.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The Debian package: scripts/package.sh runs cpack in the release build.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VENDOR Morvane)
set(CPACK_PACKAGE_CONTACT "Morvane <support@morvane.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sound design to picture from your own sound library")
set(CPACK_PACKAGE_DESCRIPTION "Morvane is a workstation for sound designers who work to picture. It reads a \
reference video, places events on a timeline (by hand, from Pro Tools session-text markers, or from \
the picture's cuts, flashes and motion), builds every event from the user's own sound-effects library, \
plays it in sync with the video and exports Broadcast WAV files and an AAF session for a DAW. \
This package holds the desktop program, the morvane-cli command-line tool, the demo content and \
the user guide.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # morvane_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${MORVANE_HOMEPAGE_URL})
# The libraries the programs link are found by dpkg-shlibdeps; SDL opens OpenGL only at
# run time, so it is named here. xdg-open opens folders, pages and the guide.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, libgl1-mesa-dri")
set(CPACK_STRIP_FILES ON)
include(CPack)
