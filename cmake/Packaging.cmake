# Installs the app and makes its Debian package (`cpack -G DEB`): the bundle in one
# folder, a launcher on the PATH, the desktop entry, the icon, the AppStream metainfo,
# the manual pages and the package's records.
#
# The bundle is installed as it was built, file for file: its programs carry their code
# identity and signature in their bytes, so install must neither strip nor re-link them
# (the package build strips them before signing).
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

# The Debian version is the changelog's; its upstream part must be the project's.
file(STRINGS packaging/changelog CORVANE_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT CORVANE_CHANGELOG_TOP MATCHES "^corvane-plugin \\(([^-]+)-([^)]+)\\)")
  message(FATAL_ERROR "packaging/changelog does not begin with an entry of corvane-plugin")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog is for ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})
# The release date the metainfo gives is the changelog entry's.
file(STRINGS packaging/changelog CORVANE_CHANGELOG_SIGNATURE REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE "^.*>  " "" CORVANE_CHANGELOG_DATE "${CORVANE_CHANGELOG_SIGNATURE}")
execute_process(COMMAND date -u -d "${CORVANE_CHANGELOG_DATE}" +%Y-%m-%d
  OUTPUT_VARIABLE CORVANE_RELEASE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

set(CORVANE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/corvane-plugin)
configure_file(packaging/com.quillmarsh.CorvanePlugin.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/packaging/com.quillmarsh.CorvanePlugin.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/com.quillmarsh.CorvanePlugin.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES packaging/copyright DESTINATION ${CORVANE_DOC_DIR})
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME corvane-plugin)
# Compressed as Debian's tools do: the highest level, no name or time stamp.
find_program(GZIP_PROGRAM gzip REQUIRED)
foreach(document IN ITEMS changelog man/corvane-plugin.1 man/CorvanePluginAgent.1)
  get_filename_component(name ${document} NAME)
  if(name STREQUAL changelog)
    set(name changelog.Debian)
  endif()
  set(compressed ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${GZIP_PROGRAM} -9nc ${PROJECT_SOURCE_DIR}/packaging/${document} > ${compressed}
    DEPENDS packaging/${document})
  list(APPEND CORVANE_COMPRESSED_DOCUMENTS ${compressed})
endforeach()
add_custom_target(corvane_documents ALL DEPENDS ${CORVANE_COMPRESSED_DOCUMENTS})
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz DESTINATION ${CORVANE_DOC_DIR})
install(FILES ${CMAKE_BINARY_DIR}/packaging/corvane-plugin.1.gz
              ${CMAKE_BINARY_DIR}/packaging/CorvanePluginAgent.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME corvane-plugin)
set(CPACK_PACKAGE_VENDOR Quillmarsh)
set(CPACK_PACKAGE_CONTACT "Quillmarsh <support@quillmarsh.com>")
# CPack indents every line after the first itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "add GPU, fan and temperature data to Corvane
Corvane Plugin installs a small per-user agent that serves the machine's GPU
utilisation, CPU and GPU temperatures and fan speeds to the Corvane monitoring
app, and shows a live sample of them.
.
The agent reads the kernel's hwmon and DRM interfaces and, where NVIDIA's
driver is installed, its management library. The user's own systemd manager
starts it on demand through a socket; it admits only clients with a trusted
code signature and exits when idle.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries found by dpkg-shlibdeps; the service manager that runs the agent besides.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS systemd)
include(CPack)
