# Installing both programs with their desktop entry and icon, and the Debian package built
# from that installation (cpack -G DEB in the build folder).
install(TARGETS qmharvest-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(QM_BUILD_GUI)
  install(TARGETS qmharvest RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/qmharvest.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/src/shell/resources/app_icon.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME qmharvest.svg)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qmharvest)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brindle Soft")
set(CPACK_PACKAGE_CONTACT "Brindle Soft <service@brindle-soft.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "harvester of contact data from web pages")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "harvester of contact data from web pages\n Collects e-mail addresses, mobile numbers and QQ numbers from the pages\n of a URL list, in a window with a Chinese interface (qmharvest) or from\n the command line (qmharvest-cli).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs link come from dpkg-shlibdeps; the rest are what they
# load at run time: the Public Suffix List the row checks read, the toolkit's Chinese
# translations and a font with Chinese characters.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "publicsuffix")
if(QM_BUILD_GUI)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
    ", qt6-translations-l10n, fonts-wqy-microhei | fonts-wqy-zenhei | fonts-noto-cjk")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
