# Installed tree and the Debian package.
#
#   bin/plombix, bin/plombix-monitor
#   lib/vora-plombix/libplombix_ndi.so       the stand-in runtime, private to
#                                             the player (found next to it)
#   share/applications/vora-plombix.desktop  the desktop menu entry
#   share/icons/hicolor/<n>x<n>/apps/vora-plombix.png
#   share/man/man1/plombix.1.gz, plombix-monitor.1.gz
#   share/doc/vora-plombix/README.md, copyright, changelog.gz
#
# The package follows Debian's policy as lintian checks it: manual pages
# and the changelog compressed with gzip -9n (no name or time stamp, so the
# package builds the same twice), the copyright file beside the README.
include(GNUInstallDirs)

find_program(PLOMBIX_GZIP gzip REQUIRED)
set(_plombix_gz_dir ${CMAKE_BINARY_DIR}/packaging)
set(_plombix_gz_files)
foreach(source packaging/plombix.1 packaging/plombix-monitor.1 packaging/changelog)
  get_filename_component(_name ${source} NAME)
  set(_out ${_plombix_gz_dir}/${_name}.gz)
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${_plombix_gz_dir}/${_name}
    COMMAND ${PLOMBIX_GZIP} -9nf ${_plombix_gz_dir}/${_name}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source}
    VERBATIM)
  list(APPEND _plombix_gz_files ${_out})
endforeach()
add_custom_target(plombix_packaging_files ALL DEPENDS ${_plombix_gz_files})

install(TARGETS plombix plombix-monitor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS plombix_ndi LIBRARY DESTINATION lib/vora-plombix)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vora-plombix.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/plombix-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME vora-plombix.png)
endforeach()
install(FILES ${_plombix_gz_dir}/plombix.1.gz ${_plombix_gz_dir}/plombix-monitor.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
  ${_plombix_gz_dir}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vora-plombix)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vora-plombix)
set(CPACK_PACKAGE_VENDOR "Voracraft")
set(CPACK_PACKAGE_CONTACT "Voracraft <support@voracraft.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Still-image player for live video production")
# Lines of at most 80 characters, as Debian's control files want them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Drop a picture on the window and it goes on air as a network video source:"
  "scaled, composed over a background and under an optional overlay, cut or"
  "cross-faded, with a preview and tally. Publishes through the NDI runtime"
  "when it is installed, otherwise through a built-in HTTP stand-in.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.voracraft.example/")
# Shared-library dependencies are worked out by dpkg-shlibdeps; the Qt
# plug-ins the player loads at run time are named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "avahi-daemon")
include(CPack)
