# Installation as a desktop application and the Debian package.
# The package version is the project version, the same number the executable's
# version block carries.
include(GNUInstallDirs)

set(TARNWICK_DESKTOP_DIR ${PROJECT_SOURCE_DIR}/app/desktop)

if(TARGET tarnwick)
  install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${TARNWICK_DESKTOP_DIR}/tarnwick.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TARNWICK_DESKTOP_DIR}/tarnwick.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Raster icons at the usual theme sizes, rendered from our own SVG.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_outputs)
foreach(size 16 22 24 32 48 64 128 256)
  set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/tarnwick.png)
  add_custom_command(
    OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} ${TARNWICK_DESKTOP_DIR}/tarnwick.svg -o ${png}
    DEPENDS ${TARNWICK_DESKTOP_DIR}/tarnwick.svg
    VERBATIM)
  list(APPEND icon_outputs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(tarnwick_icons ALL DEPENDS ${icon_outputs})

# Man page, compressed as Debian expects.
find_program(GZIP gzip REQUIRED)
set(man_gz ${CMAKE_BINARY_DIR}/man/tarnwick.1.gz)
add_custom_command(
  OUTPUT ${man_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND ${GZIP} -9nc ${TARNWICK_DESKTOP_DIR}/tarnwick.1 > ${man_gz}
  DEPENDS ${TARNWICK_DESKTOP_DIR}/tarnwick.1
  VERBATIM)
add_custom_target(tarnwick_man ALL DEPENDS ${man_gz})
install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Only the workbench goes into the package; the test server stays out.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tarnwick developers <tarnwick@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Query workbench for Microsoft SQL Server")
set(CPACK_PACKAGE_DESCRIPTION
    "tarnwick 2005 runs SQL against Microsoft SQL Server, shows results in a grid, \
shows table structures and exports results to desktop database, spreadsheet, HTML and text files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Runtime pieces the program loads by name rather than links: the ODBC driver
# manager and the FreeTDS driver, pxlib for Paradox tables, and the fonts whose
# metrics the layout uses.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc, tdsodbc, pxlib1, fonts-wine, fonts-liberation2, qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_GENERATOR DEB)
include(CPack)
