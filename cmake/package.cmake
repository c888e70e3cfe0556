# Installing rowpress (`cmake --install`) and its Debian package (`cpack -G DEB`, see
# scripts/package.sh): the executable, the man page, the help page, the desktop entry with
# its icons, the AppStream metainfo, the README with the reference, the licence and the Debian
# changelog.
include(GNUInstallDirs)

set(ROWPRESS_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
# The Debian revision of the package: 3.1.2-1 is the first package of version 3.1.2. The
# newest entry of packaging/changelog names the same version.
set(ROWPRESS_DEBIAN_REVISION 1)

# The help page lies beside the executable of the build tree as it will lie beside an
# installed one: <dir of exe>/share/rowpress/help.html here, <dir of exe>/../share/rowpress/
# help.html once installed, so that the window finds it in both.
configure_file(${CMAKE_SOURCE_DIR}/docs/help.html ${CMAKE_BINARY_DIR}/share/rowpress/help.html
               COPYONLY)

# Debian wants the man page and the changelog compressed with gzip -9 and without a time
# stamp or file name in the header, so that the package comes out the same at every build.
set(ROWPRESS_MAN_PAGE_GZ ${CMAKE_BINARY_DIR}/packaging/rowpress.1.gz)
set(ROWPRESS_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(
  OUTPUT ${ROWPRESS_MAN_PAGE_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/rowpress.1 > ${ROWPRESS_MAN_PAGE_GZ}
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/rowpress.1
  COMMENT "Compressing the man page"
  VERBATIM)
add_custom_command(
  OUTPUT ${ROWPRESS_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -9n -c ${ROWPRESS_PACKAGING_DIR}/changelog > ${ROWPRESS_CHANGELOG_GZ}
  DEPENDS ${ROWPRESS_PACKAGING_DIR}/changelog
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
# Part of the executable's target, so that building only `rowpress` makes them too.
add_custom_target(rowpress_compressed_docs DEPENDS ${ROWPRESS_MAN_PAGE_GZ}
                                                   ${ROWPRESS_CHANGELOG_GZ})
add_dependencies(rowpress rowpress_compressed_docs)

install(TARGETS rowpress RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ROWPRESS_MAN_PAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/docs/help.html DESTINATION ${CMAKE_INSTALL_DATADIR}/rowpress)
install(FILES ${ROWPRESS_PACKAGING_DIR}/rowpress.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ROWPRESS_PACKAGING_DIR}/org.example.rowpress.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${ROWPRESS_PACKAGING_DIR}/icons/rowpress.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The PNGs are rendered from the SVG, once, with `rsvg-convert -w N -h N` (librsvg2-bin).
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${ROWPRESS_PACKAGING_DIR}/icons/${size}x${size}/rowpress.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/reference.md
              ${ROWPRESS_PACKAGING_DIR}/copyright
              ${ROWPRESS_CHANGELOG_GZ}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rowpress)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "rowpress developers")
set(CPACK_PACKAGE_CONTACT "rowpress developers <rowpress@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "export the result of an SQL query from ODBC to a spreadsheet")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ROWPRESS_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "rowpress developers <rowpress@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies come from the libraries that the executable links (dpkg-shlibdeps):
# unixODBC, Qt 6, libxlsxwriter for the .xlsx workbook, libzip and libxml2 that read it back, ICU that
# compares sheet names, the C and C++ libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The ODBC drivers that the project tests with, a spreadsheet program for the workbooks (the
# desktop LibreOffice Calc, the no-GUI one that conflicts with it, or Gnumeric: apt takes an
# installed one as it is and removes none) and xdg-open for HTML output and where no
# LibreOffice is installed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libsqliteodbc, odbc-postgresql, odbc-mariadb, libreoffice-calc | libreoffice-calc-nogui | gnumeric, xdg-utils")
# The extended description; CPack indents it and marks the empty line as Debian wants.
set(CPACK_PACKAGE_DESCRIPTION
    "rowpress pulls the result of one SQL query out of any ODBC data source and
writes it to a file that a spreadsheet program or a browser opens: an Excel
XML 2003 workbook (SpreadsheetML), an Office Open XML workbook (.xlsx), CSV,
TSV or a bare HTML table.

A window walks through four steps: list the data sources, pick one, pick a
table or type SQL, and fetch. A job can be saved to a small settings file
and run unattended from cron or a script, with no window and no display;
the exit status tells the outcome.")
include(CPack)
