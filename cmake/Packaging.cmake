# Installs the app and makes its Debian package (`cpack -G DEB`): the bundle in one
# folder, a launcher on the PATH, the desktop entry and the icon.
#
# The bundle is installed as it was built, file for file: its programs carry their code
# identity and signature in their bytes, so install must neither strip nor re-link them.
include(GNUInstallDirs)

# Not the multiarch library folder: the bundle is one program's private tree.
set(CORVANE_INSTALL_DIR lib/corvane-plugin)
install(DIRECTORY ${CORVANE_APP_DIR} DESTINATION ${CORVANE_INSTALL_DIR} USE_SOURCE_PERMISSIONS)

file(CREATE_LINK ../${CORVANE_INSTALL_DIR}/CorvanePlugin.app/Contents/MacOS/CorvanePlugin
     ${CMAKE_BINARY_DIR}/corvane-plugin SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/corvane-plugin DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES bundle/desktop/com.quillmarsh.CorvanePlugin.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES bundle/Resources/CorvaneIcon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME com.quillmarsh.CorvanePlugin.svg)

set(CPACK_PACKAGE_NAME corvane-plugin)
set(CPACK_PACKAGE_VENDOR Quillmarsh)
set(CPACK_PACKAGE_CONTACT "Quillmarsh <support@quillmarsh.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Adds GPU, fan and temperature data to Corvane")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Libraries found by dpkg-shlibdeps; the service manager that runs the agent besides.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS systemd)
include(CPack)
