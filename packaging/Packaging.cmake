# A Debian package of both programs: cpack -G DEB in a build folder gives
# marlowin_<version>_amd64.deb. Runtime dependencies come from dpkg-shlibdeps (dpkg-dev).

# Debian keeps man pages compressed, without a time stamp in the gzip header.
find_program(MARLOWIN_GZIP gzip REQUIRED)
set(marlowin_man_page ${CMAKE_CURRENT_BINARY_DIR}/packaging/marlowin-render.1.gz)
add_custom_command(OUTPUT ${marlowin_man_page}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
  COMMAND ${MARLOWIN_GZIP} -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/packaging/marlowin-render.1 > ${marlowin_man_page}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/marlowin-render.1
  VERBATIM)
add_custom_target(marlowin_man_page ALL DEPENDS ${marlowin_man_page})
install(FILES ${marlowin_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marlowin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarvek")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vocal canceller for stereo WAV files")
# One string: separate arguments would be joined with semicolons.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Marlowin removes the centre-panned part of a stereo recording, in practice the lead\n"
  "vocal, and renders the result to a normalised WAV file. It has a window with live\n"
  "preview (marlowin) and a command-line renderer for batch use (marlowin-render).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Marlowin maintainers <marlowin@tarvek.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(MARLOWIN_GUI)
  # Qt finds its display plugins at run time, so no library dependency names them; the
  # window's Japanese texts need a font with CJK glyphs.
  # The icon is an SVG, drawn by the image plugin of libqt6svg6.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
endif()

include(CPack)
